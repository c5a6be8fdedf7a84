#pragma once
// The catalog's rows, in their fixed order. Every text here is returned to agents word for
// word; edit with care.
#include "catalog/catalog.hpp"

namespace cutrelay {

inline constexpr std::string_view kRelated_describe[] = {"premiere_status"};
inline constexpr std::string_view kRelated_status[] = {"premiere_get_project", "premiere_get_sequence"};
inline constexpr std::string_view kNotes_status[] = {
    "status is cheap but pings Premiere; for a no-side-effect readiness check use premiere_readiness.",
};
inline constexpr std::string_view kRelated_readiness[] = {"premiere_install_plugin", "premiere_launch", "premiere_wait_for_plugin"};
inline constexpr std::string_view kRelated_install_plugin[] = {"premiere_quit", "premiere_launch", "premiere_wait_for_plugin"};
inline constexpr std::string_view kNotes_install_plugin[] = {
    "Installing over a running Premiere doesn't hot-load — restart it.",
};
inline constexpr std::string_view kRelated_plugin_info[] = {"premiere_install_plugin"};
inline constexpr std::string_view kRelated_launch[] = {"premiere_get_project", "premiere_open_project"};
inline constexpr std::string_view kNotes_launch[] = {
    "A fresh Premiere shows the Home screen; open or create a project before timeline verbs.",
};
inline constexpr std::string_view kRelated_quit[] = {"premiere_launch"};
inline constexpr std::string_view kNotes_quit[] = {
    "Unsaved changes can block quit with a dialog; use save:true.",
};
inline constexpr std::string_view kRelated_wait_for_plugin[] = {"premiere_get_project"};
inline constexpr std::string_view kRelated_events[] = {"premiere_export_sequence"};
inline constexpr std::string_view kRelated_preview_frame[] = {"premiere_contact_sheet", "premiere_get_sequence"};
inline constexpr std::string_view kNotes_preview_frame[] = {
    "Frames render at the sequence's current state — re-preview after each edit.",
    "Premiere's frame exporter does NOT evaluate keyframes between two keys (a fade shows as before/after only) — use premiere_monitor_snapshot to check mid-animation frames.",
};
inline constexpr std::string_view kRelated_contact_sheet[] = {"premiere_preview_frame"};
inline constexpr std::string_view kNotes_contact_sheet[] = {
    "Keep count <= 16 with inline:true to keep responses small.",
};
inline constexpr std::string_view kRelated_monitor_snapshot[] = {"premiere_preview_frame"};
inline constexpr std::string_view kNotes_monitor_snapshot[] = {
    "Shows the whole window; the Program Monitor is top-center in the default Editing workspace.",
};
inline constexpr std::string_view kRelated_list_export_presets[] = {"premiere_export_sequence"};
inline constexpr std::string_view kRelated_ping[] = {"premiere_get_project"};
inline constexpr std::string_view kRelated_get_project[] = {"premiere_list_project_items", "premiere_get_sequence"};
inline constexpr std::string_view kRelated_open_project[] = {"premiere_get_project", "premiere_list_sequences"};
inline constexpr std::string_view kNotes_open_project[] = {
    "Paths are on the DESKTOP machine, not the container.",
};
inline constexpr std::string_view kRelated_new_project[] = {"premiere_import_media", "premiere_create_sequence"};
inline constexpr std::string_view kNotes_new_project[] = {
    "The folder must exist.",
};
inline constexpr std::string_view kRelated_close_project[] = {"premiere_open_project"};
inline constexpr std::string_view kNotes_close_project[] = {
    "Without save:true unsaved edits are discarded.",
};
inline constexpr std::string_view kRelated_list_project_items[] = {"premiere_insert_clip", "premiere_append_clip"};
inline constexpr std::string_view kRelated_import_media[] = {"premiere_append_clip", "premiere_create_sequence"};
inline constexpr std::string_view kNotes_import_media[] = {
    "Paths must exist on the desktop machine.",
};
inline constexpr std::string_view kRelated_create_bin[] = {"premiere_move_item"};
inline constexpr std::string_view kNotes_delete_item[] = {
    "Clips using it on timelines go offline/empty — check first.",
};
inline constexpr std::string_view kRelated_set_source_in_out[] = {"premiere_insert_clip"};
inline constexpr std::string_view kRelated_create_subclip[] = {"premiere_list_project_items"};
inline constexpr std::string_view kRelated_transcribe[] = {"premiere_get_transcript"};
inline constexpr std::string_view kRelated_get_transcript[] = {"premiere_razor", "premiere_add_marker"};
inline constexpr std::string_view kRelated_list_sequences[] = {"premiere_set_active_sequence", "premiere_get_sequence"};
inline constexpr std::string_view kRelated_set_active_sequence[] = {"premiere_get_sequence"};
inline constexpr std::string_view kRelated_create_sequence[] = {"premiere_get_sequence", "premiere_append_clip"};
inline constexpr std::string_view kRelated_duplicate_sequence[] = {"premiere_list_sequences"};
inline constexpr std::string_view kRelated_nest_selection[] = {"premiere_select_clips"};
inline constexpr std::string_view kRelated_get_sequence[] = {"premiere_preview_frame", "premiere_trim_clip", "premiere_move_clip"};
inline constexpr std::string_view kNotes_get_sequence[] = {
    "Clip refs are \"V1:0\" / \"A2:3\" = track:index (0-based, in time order) exactly as premiere_get_sequence lists them. Indexes shift after edits — re-read the sequence before the next edit.",
};
inline constexpr std::string_view kRelated_get_sequence_settings[] = {"premiere_set_sequence_settings"};
inline constexpr std::string_view kRelated_set_playhead[] = {"premiere_preview_frame"};
inline constexpr std::string_view kRelated_set_in_out[] = {"premiere_export_sequence"};
inline constexpr std::string_view kRelated_insert_clip[] = {"premiere_get_sequence", "premiere_preview_frame"};
inline constexpr std::string_view kNotes_insert_clip[] = {
    "Insert shifts everything after `time` on the targeted tracks.",
};
inline constexpr std::string_view kRelated_overwrite_clip[] = {"premiere_get_sequence"};
inline constexpr std::string_view kNotes_overwrite_clip[] = {
    "Replaces whatever was there.",
};
inline constexpr std::string_view kRelated_append_clip[] = {"premiere_get_sequence", "premiere_contact_sheet"};
inline constexpr std::string_view kRelated_move_clip[] = {"premiere_get_sequence"};
inline constexpr std::string_view kNotes_move_clip[] = {
    "Clip refs are \"V1:0\" / \"A2:3\" = track:index (0-based, in time order) exactly as premiere_get_sequence lists them. Indexes shift after edits — re-read the sequence before the next edit.",
    "Moving onto another clip overwrites it.",
};
inline constexpr std::string_view kRelated_trim_clip[] = {"premiere_remove_gap", "premiere_get_sequence"};
inline constexpr std::string_view kNotes_trim_clip[] = {
    "Clip refs are \"V1:0\" / \"A2:3\" = track:index (0-based, in time order) exactly as premiere_get_sequence lists them. Indexes shift after edits — re-read the sequence before the next edit.",
};
inline constexpr std::string_view kRelated_remove_clips[] = {"premiere_get_sequence"};
inline constexpr std::string_view kNotes_remove_clips[] = {
    "Clip refs are \"V1:0\" / \"A2:3\" = track:index (0-based, in time order) exactly as premiere_get_sequence lists them. Indexes shift after edits — re-read the sequence before the next edit.",
    "Linked audio isn't removed unless you include its A-track ref too.",
};
inline constexpr std::string_view kRelated_remove_gap[] = {"premiere_get_sequence"};
inline constexpr std::string_view kNotes_remove_gap[] = {
    "Only that track moves — do the matching A-track too to keep sync.",
};
inline constexpr std::string_view kRelated_razor[] = {"premiere_get_sequence", "premiere_remove_clips"};
inline constexpr std::string_view kNotes_razor[] = {
    "Uses the CEP helper's true razor when it's connected; otherwise a trim+clone emulation (method:\"uxp-emulated\") — verify with premiere_get_sequence.",
    "CEP razor acts on the ACTIVE sequence.",
};
inline constexpr std::string_view kRelated_duplicate_clip[] = {"premiere_get_sequence"};
inline constexpr std::string_view kRelated_select_clips[] = {"premiere_nest_selection", "premiere_scene_edit_detection"};
inline constexpr std::string_view kRelated_scene_edit_detection[] = {"premiere_get_sequence"};
inline constexpr std::string_view kRelated_set_speed[] = {"premiere_get_sequence"};
inline constexpr std::string_view kNotes_set_speed[] = {
    "Acts on the ACTIVE sequence.",
};
inline constexpr std::string_view kRelated_add_tracks[] = {"premiere_get_sequence"};
inline constexpr std::string_view kNotes_add_tracks[] = {
    "Needs the CEP helper; acts on the active sequence.",
};
inline constexpr std::string_view kNotes_remove_track[] = {
    "Needs the CEP helper.",
};
inline constexpr std::string_view kNotes_lock_track[] = {
    "Needs the CEP helper.",
};
inline constexpr std::string_view kNotes_set_track_target[] = {
    "Needs the CEP helper.",
};
inline constexpr std::string_view kRelated_list_effects[] = {"premiere_add_effect", "premiere_add_transition"};
inline constexpr std::string_view kRelated_get_clip_effects[] = {"premiere_set_param", "premiere_add_keyframes"};
inline constexpr std::string_view kNotes_get_clip_effects[] = {
    "Clip refs are \"V1:0\" / \"A2:3\" = track:index (0-based, in time order) exactly as premiere_get_sequence lists them. Indexes shift after edits — re-read the sequence before the next edit.",
};
inline constexpr std::string_view kRelated_add_effect[] = {"premiere_get_clip_effects", "premiere_set_param"};
inline constexpr std::string_view kNotes_add_effect[] = {
    "Audio effects need an A-track clip; video effects a V-track clip.",
};
inline constexpr std::string_view kRelated_set_param[] = {"premiere_preview_frame", "premiere_get_clip_effects"};
inline constexpr std::string_view kNotes_set_param[] = {
    "Read the current value with premiere_get_clip_effects first and keep the same shape/scale (e.g. Motion>Position is [x,y]).",
};
inline constexpr std::string_view kRelated_add_keyframes[] = {"premiere_preview_frame"};
inline constexpr std::string_view kNotes_add_keyframes[] = {
    "Keyframe times are sequence time.",
};
inline constexpr std::string_view kRelated_set_transform[] = {"premiere_preview_frame"};
inline constexpr std::string_view kRelated_add_transition[] = {"premiere_preview_frame"};
inline constexpr std::string_view kNotes_add_transition[] = {
    "Video only. For audio crossfades use premiere_audio_fade.",
};
inline constexpr std::string_view kRelated_insert_mogrt[] = {"premiere_get_clip_effects", "premiere_set_param"};
inline constexpr std::string_view kRelated_set_clip_volume[] = {"premiere_audio_probe", "premiere_audio_fade"};
inline constexpr std::string_view kNotes_set_clip_volume[] = {
    "Volume lives on A-track clips, not the linked video clip.",
};
inline constexpr std::string_view kRelated_audio_fade[] = {"premiere_audio_probe"};
inline constexpr std::string_view kRelated_audio_probe[] = {"premiere_set_clip_volume"};
inline constexpr std::string_view kRelated_list_markers[] = {"premiere_add_marker"};
inline constexpr std::string_view kRelated_add_marker[] = {"premiere_list_markers"};
inline constexpr std::string_view kRelated_export_frame[] = {"premiere_preview_frame", "premiere_read_file_base64"};
inline constexpr std::string_view kRelated_export_frames[] = {"premiere_contact_sheet"};
inline constexpr std::string_view kRelated_export_sequence[] = {"premiere_events", "premiere_list_export_presets"};
inline constexpr std::string_view kNotes_export_sequence[] = {
    "Set premiere_set_in_out first and pass range:\"inout\" to render only part.",
    "Long immediate renders can exceed the HTTP budget — pass timeoutSec or use mode:\"ame\".",
};
inline constexpr std::string_view kRelated_source_monitor[] = {"premiere_set_source_in_out"};
inline constexpr std::string_view kRelated_eval[] = {"premiere_get_sequence"};
inline constexpr std::string_view kNotes_eval[] = {
    "Return JSON-able values.",
    "create*Action calls only work inside h.tx (lockedAccess).",
};
inline constexpr std::string_view kNotes_extendscript[] = {
    "ES3: no let/const/arrow; return plain values.",
};
inline constexpr std::string_view kRelated_export_frame_qe[] = {"premiere_read_file_base64"};

inline constexpr VerbRecord kVerbTable[] = {
    {
        .name = "describe",
        .description = "Full machine-readable verb catalog.",
        .args = "{}",
        .tip = "Pick verbs from here; premiere_eval covers anything not listed.",
        .related = kRelated_describe,
        .notes = {},
        .timeout = 5,
        .kind = Runtime::Bridge,
    },
    {
        .name = "status",
        .description = "Bridge, Premiere, and plugin connection status plus a live ping.",
        .args = "{}",
        .tip = "If pluginConnected is false follow the _hint. When connected, premiere_get_project / premiere_get_sequence show what's open.",
        .related = kRelated_status,
        .notes = kNotes_status,
        .timeout = 15,
        .kind = Runtime::Bridge,
    },
    {
        .name = "readiness",
        .description = "Read-only readiness: never launches or installs.",
        .args = "{}",
        .tip = "state: ready | needs-plugin (→ premiere_install_plugin) | app-not-running (→ premiere_launch) | waiting-for-plugin (→ premiere_wait_for_plugin) | no-app.",
        .related = kRelated_readiness,
        .notes = {},
        .timeout = 5,
        .kind = Runtime::Bridge,
    },
    {
        .name = "install_plugin",
        .description = "Install/refresh the Quor UXP plugin (and the invisible CEP helper) into Premiere. No user clicks.",
        .args = "{force?:bool, cep?:bool=true}",
        .tip = "If Premiere was running during install, restart it (premiere_quit {save:true} then premiere_launch) so it loads the plugin. The UXP panel must be opened ONCE (Window > UXP Plugins > Quor Bridge); after that Premiere restores it every launch.",
        .related = kRelated_install_plugin,
        .notes = kNotes_install_plugin,
        .timeout = 180,
        .kind = Runtime::Bridge,
    },
    {
        .name = "plugin_info",
        .description = "Installed vs bundled plugin versions and install locations.",
        .args = "{}",
        .tip = "If installedVersion < bundledVersion run premiere_install_plugin.",
        .related = kRelated_plugin_info,
        .notes = {},
        .timeout = 5,
        .kind = Runtime::Bridge,
    },
    {
        .name = "launch",
        .description = "Start Premiere Pro (optionally opening a .prproj) and wait for the plugin.",
        .args = "{project?:path, year?:2026, foreground?:true, wait?:true, timeoutSec?:120}",
        .tip = "When pluginConnected comes back true you're ready. If it times out, follow the _hint (usually: open the Quor Bridge panel once).",
        .related = kRelated_launch,
        .notes = kNotes_launch,
        .timeout = 180,
        .kind = Runtime::Bridge,
    },
    {
        .name = "quit",
        .description = "Quit Premiere (optionally saving first).",
        .args = "{save?:bool, force?:bool}",
        .tip = "Pass save:true to avoid losing edits; Premiere may otherwise show a save prompt.",
        .related = kRelated_quit,
        .notes = kNotes_quit,
        .timeout = 90,
        .kind = Runtime::Bridge,
    },
    {
        .name = "wait_for_plugin",
        .description = "Block until the UXP plugin connects.",
        .args = "{timeoutSec?:90}",
        .tip = "Once connected, run your edit verbs.",
        .related = kRelated_wait_for_plugin,
        .notes = {},
        .timeout = 600,
        .kind = Runtime::Bridge,
    },
    {
        .name = "events",
        .description = "Events pushed by the plugin (export progress/complete/error, project opened/dirty).",
        .args = "{sinceSeq?:0}",
        .tip = "Poll with the returned lastSeq to see only new events.",
        .related = kRelated_events,
        .notes = {},
        .timeout = 5,
        .kind = Runtime::Bridge,
    },
    {
        .name = "read_file_base64",
        .description = "Return a desktop file (e.g. a preview PNG) as base64.",
        .args = "{path, maxBytes?}",
        .tip = "Decode and view the image. For big files use quor-bridge pull_file instead.",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::Bridge,
    },
    {
        .name = "preview_frame",
        .description = "Render the sequence frame at a time to PNG and return it inline (base64) — the fastest way to SEE the edit.",
        .args = "{time?:seconds|timecode (default playhead), width?:960, sequence?, inline?:true}",
        .tip = "Look at the image before telling the user the edit is right. For an overview of the whole cut use premiere_contact_sheet.",
        .related = kRelated_preview_frame,
        .notes = kNotes_preview_frame,
        .timeout = 60,
        .kind = Runtime::Bridge,
    },
    {
        .name = "contact_sheet",
        .description = "Export N evenly spaced frames across the sequence (or a range) — a storyboard of the cut.",
        .args = "{count?:8, start?, end?, width?:480, inline?:true}",
        .tip = "Review the frames in order to judge pacing and continuity.",
        .related = kRelated_contact_sheet,
        .notes = kNotes_contact_sheet,
        .timeout = 300,
        .kind = Runtime::Bridge,
    },
    {
        .name = "monitor_snapshot",
        .description = "Read-only capture of Premiere's window (Program Monitor + timeline) via Quor Bridge — no clicks, no focus change. Optionally moves the playhead first.",
        .args = "{time?, sequence?, settleMs?:700}",
        .tip = "Use when you need to see exactly what Premiere shows (animated opacity/position mid-keyframe, titles, overlays).",
        .related = kRelated_monitor_snapshot,
        .notes = kNotes_monitor_snapshot,
        .timeout = 60,
        .kind = Runtime::Bridge,
    },
    {
        .name = "list_export_presets",
        .description = "Find .epr export presets on this machine (Premiere + Media Encoder system and user presets).",
        .args = "{search?:\"h.264\"}",
        .tip = "Pass a presetPath to premiere_export_sequence.",
        .related = kRelated_list_export_presets,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::Bridge,
    },
    {
        .name = "ping",
        .description = "Round-trip to the plugin.",
        .args = "{}",
        .tip = "Plugin is alive.",
        .related = kRelated_ping,
        .notes = {},
        .timeout = 10,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "get_project",
        .description = "Open project: name, path, sequences, bins.",
        .args = "{}",
        .tip = "premiere_list_project_items shows media; premiere_get_sequence shows the timeline.",
        .related = kRelated_get_project,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "open_project",
        .description = "Open a .prproj (dialogs suppressed).",
        .args = "{path}",
        .tip = "Then premiere_get_project.",
        .related = kRelated_open_project,
        .notes = kNotes_open_project,
        .timeout = 180,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "new_project",
        .description = "Create a new .prproj.",
        .args = "{path}",
        .tip = "A new project has no sequence: premiere_import_media then premiere_create_sequence {fromItems:[…]}.",
        .related = kRelated_new_project,
        .notes = kNotes_new_project,
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "save_project",
        .description = "Save (or Save As with path).",
        .args = "{path?}",
        .tip = "Saved.",
        .related = {},
        .notes = {},
        .timeout = 120,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "close_project",
        .description = "Close the project.",
        .args = "{save?:bool}",
        .tip = "",
        .related = kRelated_close_project,
        .notes = kNotes_close_project,
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "list_project_items",
        .description = "List bins/clips/sequences in the Project panel with ids, bins, media paths, durations.",
        .args = "{bin?, type?:clip|bin|…, search?, limit?:500, details?:true}",
        .tip = "Use an item's id (or exact name) as `item` in insert/overwrite/append.",
        .related = kRelated_list_project_items,
        .notes = {},
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "import_media",
        .description = "Import files (video/audio/stills/image sequences) into the project.",
        .args = "{paths:[abs desktop paths], bin?, asNumberedStills?}",
        .tip = "The returned items[].id are ready for premiere_append_clip / premiere_insert_clip. Files in the container must first be sent with quor-bridge send_files.",
        .related = kRelated_import_media,
        .notes = kNotes_import_media,
        .timeout = 300,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "create_bin",
        .description = "Create a bin.",
        .args = "{name, parent?}",
        .tip = "",
        .related = kRelated_create_bin,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "move_item",
        .description = "Move a project item into a bin.",
        .args = "{item, bin}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "rename_item",
        .description = "Rename a project item.",
        .args = "{item, name}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "delete_item",
        .description = "Remove an item from the project.",
        .args = "{item}",
        .tip = "",
        .related = {},
        .notes = kNotes_delete_item,
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "set_item_color",
        .description = "Set an item's label color.",
        .args = "{item, colorIndex:0-15}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "set_source_in_out",
        .description = "Set/clear a source clip's in/out points (what gets inserted).",
        .args = "{item, in?, out?, clear?}",
        .tip = "Then insert/overwrite uses just that range.",
        .related = kRelated_set_source_in_out,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "create_subclip",
        .description = "Make a subclip from a source range.",
        .args = "{item, start, end, name?, video?, audio?}",
        .tip = "",
        .related = kRelated_create_subclip,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "get_metadata",
        .description = "Project + XMP metadata for an item.",
        .args = "{item, xmp?:bool}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "set_xmp_metadata",
        .description = "Write XMP metadata for an item.",
        .args = "{item, xmp}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "transcribe",
        .description = "Start Speech-to-Text on a clip.",
        .args = "{item, language?:\"en-us\"}",
        .tip = "Transcription runs in the background; poll premiere_get_transcript.",
        .related = kRelated_transcribe,
        .notes = {},
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "get_transcript",
        .description = "Get a clip's transcript JSON (words + timings).",
        .args = "{item}",
        .tip = "Use word timings to find cut points.",
        .related = kRelated_get_transcript,
        .notes = {},
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "list_sequences",
        .description = "All sequences with guid, duration, which is active.",
        .args = "{}",
        .tip = "",
        .related = kRelated_list_sequences,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "set_active_sequence",
        .description = "Open + activate a sequence.",
        .args = "{sequence: name|guid}",
        .tip = "",
        .related = kRelated_set_active_sequence,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "create_sequence",
        .description = "New sequence — from clips (matches their settings), a preset, or defaults.",
        .args = "{name, fromItems?:[item…], presetPath?, bin?}",
        .tip = "fromItems is the best way to get matching resolution/fps.",
        .related = kRelated_create_sequence,
        .notes = {},
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "duplicate_sequence",
        .description = "Clone a sequence.",
        .args = "{sequence?}",
        .tip = "",
        .related = kRelated_duplicate_sequence,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "delete_sequence",
        .description = "Delete a sequence.",
        .args = "{sequence}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "nest_selection",
        .description = "Nest the selected clips into a new sequence.",
        .args = "{sequence?}",
        .tip = "Select first with premiere_select_clips.",
        .related = kRelated_nest_selection,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "get_sequence",
        .description = "THE timeline view: every track and clip with refs, start/end, source in/out, effects, media.",
        .args = "{sequence?, detail?:true}",
        .tip = "Use the clips' `ref` values in edit verbs. Re-read after every edit — indexes shift.",
        .related = kRelated_get_sequence,
        .notes = kNotes_get_sequence,
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "get_sequence_settings",
        .description = "Frame size, fps, PAR, audio settings.",
        .args = "{sequence?}",
        .tip = "",
        .related = kRelated_get_sequence_settings,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "set_sequence_settings",
        .description = "Change frame size / fps / render quality.",
        .args = "{sequence?, width?, height?, fps?, maxBitDepth?, maxRenderQuality?}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "set_playhead",
        .description = "Move the playhead (CTI).",
        .args = "{time, sequence?}",
        .tip = "premiere_preview_frame with no time shows this frame.",
        .related = kRelated_set_playhead,
        .notes = {},
        .timeout = 15,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "set_in_out",
        .description = "Set sequence in/out (and optionally the work area).",
        .args = "{in?, out?, workArea?:bool, sequence?}",
        .tip = "export_sequence {range:\"inout\"} renders just this.",
        .related = kRelated_set_in_out,
        .notes = {},
        .timeout = 15,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "insert_clip",
        .description = "Insert a project item at a time (ripples later clips right).",
        .args = "{item, time?(default playhead), track?|videoTrack?:\"V1\", audioTrack?:\"A1\", limitShift?}",
        .tip = "Check placement with premiere_get_sequence, then premiere_preview_frame.",
        .related = kRelated_insert_clip,
        .notes = kNotes_insert_clip,
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "overwrite_clip",
        .description = "Overwrite a project item onto the timeline at a time.",
        .args = "{item, time?, track?|videoTrack?, audioTrack?}",
        .tip = "",
        .related = kRelated_overwrite_clip,
        .notes = kNotes_overwrite_clip,
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "append_clip",
        .description = "Place a project item at the end of a track.",
        .args = "{item, track?:\"V1\", audioTrack?}",
        .tip = "Repeat to build a rough cut in order.",
        .related = kRelated_append_clip,
        .notes = {},
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "move_clip",
        .description = "Move clip(s) to a new start time or by an offset.",
        .args = "{clip|clips, to?|by?, sequence?}",
        .tip = "",
        .related = kRelated_move_clip,
        .notes = kNotes_move_clip,
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "trim_clip",
        .description = "Trim a clip: set start/end on the timeline, or trimStart/trimEnd by seconds, or source in/out.",
        .args = "{clip, start?, end?, trimStart?, trimEnd?, inPoint?, outPoint?}",
        .tip = "Trimming leaves a gap; premiere_remove_gap closes it.",
        .related = kRelated_trim_clip,
        .notes = kNotes_trim_clip,
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "remove_clips",
        .description = "Delete clips, optionally ripple-deleting (closing the gap).",
        .args = "{clip|clips, ripple?:false}",
        .tip = "",
        .related = kRelated_remove_clips,
        .notes = kNotes_remove_clips,
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "remove_gap",
        .description = "Close the gap before a clip (shift it and later clips on that track left).",
        .args = "{clip}",
        .tip = "",
        .related = kRelated_remove_gap,
        .notes = kNotes_remove_gap,
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "razor",
        .description = "Cut clips at a time (all tracks, or the ones you list).",
        .args = "{time, tracks?:[\"V1\",\"A1\"], sequence?}",
        .tip = "After cutting, premiere_get_sequence shows the two halves; remove_clips {ripple:true} the unwanted piece.",
        .related = kRelated_razor,
        .notes = kNotes_razor,
        .timeout = 60,
        .kind = Runtime::CepOrUxp,
    },
    {
        .name = "set_clip_enabled",
        .description = "Enable/disable clip(s).",
        .args = "{clip|clips, enabled:bool}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "rename_clip",
        .description = "Rename a timeline clip.",
        .args = "{clip, name}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "duplicate_clip",
        .description = "Clone a timeline clip by a time offset and/or onto another track.",
        .args = "{clip, offset?:seconds, videoTrackOffset?, audioTrackOffset?, insert?}",
        .tip = "",
        .related = kRelated_duplicate_clip,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "select_clips",
        .description = "Select clips in the timeline.",
        .args = "{clip|clips}",
        .tip = "",
        .related = kRelated_select_clips,
        .notes = {},
        .timeout = 15,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "get_selection",
        .description = "What's selected in the timeline.",
        .args = "{}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 15,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "clear_selection",
        .description = "Deselect all.",
        .args = "{}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 15,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "scene_edit_detection",
        .description = "Auto-detect scene cuts in clips (apply cuts, markers, or subclips).",
        .args = "{clip|clips, operation?:cut|marker|subclip}",
        .tip = "Runs async in Premiere; re-read the sequence in a few seconds.",
        .related = kRelated_scene_edit_detection,
        .notes = {},
        .timeout = 120,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "set_speed",
        .description = "Change clip speed (and reverse / ripple / keep pitch).",
        .args = "{clip:\"V1:0\", speed:0.5|2.0, reverse?, ripple?, maintainPitch?:true}",
        .tip = "Needs the CEP helper. Re-read the sequence: duration changes.",
        .related = kRelated_set_speed,
        .notes = kNotes_set_speed,
        .timeout = 60,
        .kind = Runtime::CepHelper,
    },
    {
        .name = "add_tracks",
        .description = "Add video and/or audio tracks.",
        .args = "{video?:n, audio?:n, audioType?:stereo|mono|5.1}",
        .tip = "",
        .related = kRelated_add_tracks,
        .notes = kNotes_add_tracks,
        .timeout = 30,
        .kind = Runtime::CepHelper,
    },
    {
        .name = "remove_track",
        .description = "Delete a track.",
        .args = "{track:\"V3\"}",
        .tip = "",
        .related = {},
        .notes = kNotes_remove_track,
        .timeout = 30,
        .kind = Runtime::CepHelper,
    },
    {
        .name = "lock_track",
        .description = "Lock/unlock a track.",
        .args = "{track, locked?:true}",
        .tip = "",
        .related = {},
        .notes = kNotes_lock_track,
        .timeout = 15,
        .kind = Runtime::CepHelper,
    },
    {
        .name = "set_track_target",
        .description = "Target/untarget a track for edits.",
        .args = "{track, targeted?:true}",
        .tip = "",
        .related = {},
        .notes = kNotes_set_track_target,
        .timeout = 15,
        .kind = Runtime::CepHelper,
    },
    {
        .name = "set_track_mute",
        .description = "Mute/unmute a track.",
        .args = "{track:\"A2\", mute?:true}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 15,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "rename_track",
        .description = "Rename a track.",
        .args = "{track, name}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 15,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "list_effects",
        .description = "Available video effects, audio effects, or video transitions.",
        .args = "{kind?:video|audio|transition, search?}",
        .tip = "Use matchName (video/transition) or displayName (audio) in add_effect / add_transition.",
        .related = kRelated_list_effects,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "get_clip_effects",
        .description = "A clip's components (Motion, Opacity, Volume, added effects) with every param's value and keyframes.",
        .args = "{clip, time?}",
        .tip = "Use component + param names from here in premiere_set_param / premiere_add_keyframes.",
        .related = kRelated_get_clip_effects,
        .notes = kNotes_get_clip_effects,
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "add_effect",
        .description = "Apply a video or audio effect to clip(s).",
        .args = "{clip|clips, matchName?|name?, index?}",
        .tip = "Then premiere_get_clip_effects to see its params.",
        .related = kRelated_add_effect,
        .notes = kNotes_add_effect,
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "remove_effect",
        .description = "Remove a component from a clip.",
        .args = "{clip, component: index|name|matchName}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "set_param",
        .description = "Set an effect parameter (static, or a keyframe when `time` is given).",
        .args = "{clip|clips, component, param, value (number|bool|[x,y]|{red,green,blue,alpha}), time?}",
        .tip = "preview_frame to check the look.",
        .related = kRelated_set_param,
        .notes = kNotes_set_param,
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "add_keyframes",
        .description = "Animate a parameter with several keyframes.",
        .args = "{clip, component, param, keyframes:[{time, value}], interpolation?:linear|hold|bezier}",
        .tip = "",
        .related = kRelated_add_keyframes,
        .notes = kNotes_add_keyframes,
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "remove_keyframes",
        .description = "Remove one keyframe, a range, or all (static again).",
        .args = "{clip, component, param, time?|start&end?|all?}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "set_transform",
        .description = "Convenience: Motion scale/position/rotation/anchor and Opacity in one call.",
        .args = "{clip, scale?, position?:[x,y], rotation?, anchor?, opacity?, time?}",
        .tip = "",
        .related = kRelated_set_transform,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "add_transition",
        .description = "Add a video transition at a clip's start or end.",
        .args = "{clip|clips, name?:\"Cross Dissolve\"|matchName?, duration?:1, position?:end|start, singleSided?}",
        .tip = "",
        .related = kRelated_add_transition,
        .notes = kNotes_add_transition,
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "remove_transition",
        .description = "Remove a clip's start/end transition.",
        .args = "{clip, position?:end|start}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "insert_mogrt",
        .description = "Insert a Motion Graphics Template (titles/lower thirds) from a .mogrt path or a CC Library.",
        .args = "{path?|library&element, time?, track?:\"V2\"}",
        .tip = "Then get_clip_effects on it to find its text param and set_param to change the text.",
        .related = kRelated_insert_mogrt,
        .notes = {},
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "set_clip_volume",
        .description = "Set an audio clip's level in dB (or as a keyframe at a time).",
        .args = "{clip|clips:\"A1:0\", db?:-6, level?:raw, time?}",
        .tip = "Use premiere_audio_probe to read the current level.",
        .related = kRelated_set_clip_volume,
        .notes = kNotes_set_clip_volume,
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "audio_fade",
        .description = "Fade an audio clip in or out with Volume keyframes.",
        .args = "{clip:\"A1:0\", type?:in|out, duration?:1, db?:0}",
        .tip = "",
        .related = kRelated_audio_fade,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "audio_probe",
        .description = "Read an audio clip's raw Volume level + dB estimate.",
        .args = "{clip}",
        .tip = "",
        .related = kRelated_audio_probe,
        .notes = {},
        .timeout = 15,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "list_markers",
        .description = "Sequence (or clip) markers.",
        .args = "{sequence?|item?}",
        .tip = "",
        .related = kRelated_list_markers,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "add_marker",
        .description = "Add a marker (comment/chapter/weblink) with name, comments, duration, color.",
        .args = "{time?, name?, comments?, duration?, type?, colorIndex?, item?}",
        .tip = "",
        .related = kRelated_add_marker,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "remove_marker",
        .description = "Remove markers by guid, name, or all.",
        .args = "{guid?|name?|all?}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "export_frame",
        .description = "Write the frame at a time to an image file on the desktop.",
        .args = "{time?, dir?, name?, format?:png|jpg|tif, width?, height?}",
        .tip = "premiere_preview_frame does this AND returns the image inline.",
        .related = kRelated_export_frame,
        .notes = {},
        .timeout = 60,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "export_frames",
        .description = "Write several frames (times[] or count evenly spaced).",
        .args = "{times?:[…], count?, start?, end?, dir?, width?}",
        .tip = "",
        .related = kRelated_export_frames,
        .notes = {},
        .timeout = 300,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "export_sequence",
        .description = "Render the sequence to a file with an .epr preset (immediately, or queued in Media Encoder).",
        .args = "{output:abs path, preset:.epr path, mode?:immediate|ame|queue, range?:full|inout}",
        .tip = "mode:immediate renders inside Premiere and returns when the file is written; mode:ame queues to Media Encoder (watch premiere_events). Then quor-bridge pull_file the output to inspect it.",
        .related = kRelated_export_sequence,
        .notes = kNotes_export_sequence,
        .timeout = 300,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "export_interchange",
        .description = "Export the sequence as OpenTimelineIO, FCP XML, or AAF.",
        .args = "{output, format?:otio|fcpxml|aaf}",
        .tip = "",
        .related = {},
        .notes = {},
        .timeout = 120,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "source_monitor",
        .description = "Open a clip/file in the Source Monitor, seek, play, or close.",
        .args = "{item?|path?, time?, play?, speed?, close?}",
        .tip = "",
        .related = kRelated_source_monitor,
        .notes = {},
        .timeout = 30,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "eval",
        .description = "Run arbitrary async JS inside Premiere's UXP plugin with the full premierepro API.",
        .args = "{code: async-function body; in scope: ppro, h (helpers: findClip, toTick, tx, …), args, require}",
        .tip = "Use for anything no verb covers. Edits must go through h.tx(project, label, () => [actions]) (built synchronously).",
        .related = kRelated_eval,
        .notes = kNotes_eval,
        .timeout = 600,
        .kind = Runtime::UxpPlugin,
    },
    {
        .name = "extendscript",
        .description = "Run ExtendScript (incl. the QE DOM) via the CEP helper.",
        .args = "{code: function body (ES3), args?}",
        .tip = "For legacy-only features (QE). Prefer UXP verbs.",
        .related = {},
        .notes = kNotes_extendscript,
        .timeout = 600,
        .kind = Runtime::CepHelper,
    },
    {
        .name = "export_frame_qe",
        .description = "Export a frame via QE (fallback when Exporter.exportSequenceFrame misbehaves).",
        .args = "{time, path}",
        .tip = "",
        .related = kRelated_export_frame_qe,
        .notes = {},
        .timeout = 60,
        .kind = Runtime::CepHelper,
    },
};

}  // namespace cutrelay
