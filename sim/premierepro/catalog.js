'use strict';
// What the simulated Premiere offers in its Effects panel: video effects (match name,
// display name and parameters with their defaults), audio effects (display names; UXP
// lists no audio match names) and video transitions (match names).
//
// The entries are a representative subset of Premiere's own, with the names its Effects
// panel shows. Parameter lists give the parameters a script reaches through
// Component.getParam in panel order; popup menus are numbers (the chosen entry), checkboxes
// booleans, points normalised to the frame ({x, y}, 0.5/0.5 is the centre), colours
// {red, green, blue, alpha} in 0…1. Where Premiere's exact match name or default could not
// be confirmed from Adobe's material the entry follows Premiere's naming pattern; see
// sim/README.md.

const BLACK = { red: 0, green: 0, blue: 0, alpha: 1 };
const WHITE = { red: 1, green: 1, blue: 1, alpha: 1 };
const GREEN = { red: 0, green: 1, blue: 0, alpha: 1 };
const CENTER = { x: 0.5, y: 0.5 };

/** [matchName, displayName, [[param, default], …]] */
const VIDEO_EFFECTS = [
  ['AE.ADBE Gaussian Blur 2', 'Gaussian Blur', [['Blurriness', 0], ['Blur Dimensions', 1], ['Repeat Edge Pixels', false]]],
  ['AE.ADBE Camera Blur', 'Camera Blur', [['Percent Blur', 0]]],
  ['AE.ADBE Channel Blur', 'Channel Blur', [['Red Blurriness', 0], ['Green Blurriness', 0], ['Blue Blurriness', 0], ['Alpha Blurriness', 0], ['Edge Behavior', false], ['Blur Dimensions', 1]]],
  ['AE.ADBE Motion Blur', 'Directional Blur', [['Direction', 0], ['Blur Length', 0]]],
  ['AE.ADBE Compound Blur', 'Compound Blur', [['Blur Layer', 1], ['Maximum Blur', 20], ['Stretch Map to Fit', true], ['Invert Blur', false]]],
  ['AE.ADBE Sharpen', 'Sharpen', [['Sharpen Amount', 0]]],
  ['AE.ADBE Unsharp Mask', 'Unsharp Mask', [['Amount', 50], ['Radius', 1], ['Threshold', 0]]],
  ['AE.ADBE Mosaic', 'Mosaic', [['Horizontal Blocks', 10], ['Vertical Blocks', 10], ['Sharp Colors', false]]],
  ['PR.ADBE Solarize', 'Solarize', [['Threshold', 0]]],
  ['PR.ADBE Gamma Correction', 'Gamma Correction', [['Gamma', 10]]],
  ['PR.ADBE Extract', 'Extract', [['Black Input Level', 0], ['White Input Level', 255], ['Softness', 0], ['Invert', false]]],
  ['AE.ADBE Lumetri', 'Lumetri Color', [['Exposure', 0], ['Contrast', 0], ['Highlights', 0], ['Shadows', 0], ['Whites', 0], ['Blacks', 0], ['Saturation', 100], ['Temperature', 0], ['Tint', 0], ['Vignette Amount', 0]]],
  ['AE.ADBE Brightness & Contrast 2', 'Brightness & Contrast', [['Brightness', 0], ['Contrast', 0]]],
  ['AE.ADBE Black&White', 'Black & White', []],
  ['AE.ADBE Tint', 'Tint', [['Map Black To', BLACK], ['Map White To', WHITE], ['Amount to Tint', 100]]],
  ['AE.ADBE Leave Color', 'Leave Color', [['Amount to Decolor', 0], ['Color To Leave', WHITE], ['Tolerance', 15], ['Edge Softness', 0], ['Match colors', 0]]],
  ['AE.ADBE Change To Color', 'Change to Color', [['From', WHITE], ['To', BLACK], ['Change', 0], ['Change By', 0]]],
  ['AE.ADBE Invert', 'Invert', [['Channel', 0], ['Blend With Original', 0]]],
  ['AE.ADBE Posterize', 'Posterize', [['Level', 7]]],
  ['AE.ADBE Color Balance (HLS)', 'Color Balance (HLS)', [['Hue', 0], ['Lightness', 0], ['Saturation', 0]]],
  ['AE.ADBE Pro Levels2', 'Levels', [['Input Black', 0], ['Input White', 255], ['Output Black', 0], ['Output White', 255], ['Gamma', 1]]],
  ['AE.ADBE Noise', 'Noise', [['Amount of Noise', 0], ['Noise Type', true], ['Clipping', true]]],
  ['AE.ADBE Find Edges', 'Find Edges', [['Invert', false], ['Blend With Original', 0]]],
  ['AE.ADBE Emboss', 'Emboss', [['Direction', 45], ['Relief', 1.5], ['Contrast', 100], ['Blend With Original', 0]]],
  ['AE.ADBE Roughen Edges', 'Roughen Edges', [['Edge Type', 0], ['Border', 8], ['Edge Sharpness', 1], ['Scale', 100]]],
  ['AE.ADBE Strobe', 'Strobe Light', [['Strobe Color', WHITE], ['Blend With Original', 0], ['Strobe Duration (secs)', 0.05], ['Strobe Period (secs)', 1]]],
  ['AE.ADBE Posterize Time', 'Posterize Time', [['Frame Rate', 12]]],
  ['AE.ADBE Echo', 'Echo', [['Echo Time (seconds)', -0.033], ['Number Of Echoes', 1], ['Starting Intensity', 1], ['Decay', 1]]],
  ['AE.ADBE Crop', 'Crop', [['Left', 0], ['Top', 0], ['Right', 0], ['Bottom', 0], ['Zoom', false], ['Edge Feather', 0]]],
  ['AE.ADBE Geometry2', 'Transform', [['Anchor Point', CENTER], ['Position', CENTER], ['Uniform Scale', true], ['Scale', 100], ['Scale Width', 100], ['Skew', 0], ['Skew Axis', 0], ['Rotation', 0], ['Opacity', 100], ['Use Composition\'s Shutter Angle', true], ['Shutter Angle', 0]]],
  ['AE.ADBE Mirror', 'Mirror', [['Reflection Center', CENTER], ['Reflection Angle', 0]]],
  ['AE.ADBE Offset', 'Offset', [['Shift Center To', CENTER], ['Blend With Original', 0]]],
  ['AE.ADBE Corner Pin', 'Corner Pin', [['Upper Left', { x: 0, y: 0 }], ['Upper Right', { x: 1, y: 0 }], ['Lower Left', { x: 0, y: 1 }], ['Lower Right', { x: 1, y: 1 }]]],
  ['AE.ADBE Horizontal Flip', 'Horizontal Flip', []],
  ['AE.ADBE Vertical Flip', 'Vertical Flip', []],
  ['AE.ADBE Spherize', 'Spherize', [['Radius', 0], ['Center of Sphere', CENTER]]],
  ['AE.ADBE Twirl', 'Twirl', [['Angle', 0], ['Twirl Radius', 50], ['Twirl Center', CENTER]]],
  ['AE.ADBE Wave Warp', 'Wave Warp', [['Wave Type', 0], ['Wave Height', 10], ['Wave Width', 40], ['Direction', 90], ['Wave Speed', 1]]],
  ['AE.ADBE Turbulent Displace', 'Turbulent Displace', [['Displacement', 0], ['Amount', 50], ['Size', 100], ['Offset (Turbulence)', CENTER], ['Complexity', 1]]],
  ['AE.ADBE Lens Distortion', 'Lens Distortion', [['Curvature', 0], ['Vertical Decentering', 0], ['Horizontal Decentering', 0], ['Fill Alpha', false]]],
  ['AE.ADBE SubspaceStabilizer', 'Warp Stabilizer', [['Smoothness', 50], ['Method', 3], ['Framing', 1], ['Crop Less <-> Smooth More', 50]]],
  ['AE.ADBE Ultra Key', 'Ultra Key', [['Output', 0], ['Setting', 0], ['Key Color', GREEN]]],
  ['AE.ADBE Color Key', 'Color Key', [['Key Color', GREEN], ['Color Tolerance', 0], ['Edge Thin', 0], ['Edge Feather', 0]]],
  ['AE.ADBE Luma Key', 'Luma Key', [['Threshold', 100], ['Cutoff', 0]]],
  ['AE.ADBE Track Matte', 'Track Matte Key', [['Matte', 0], ['Composite Using', 0], ['Reverse', false]]],
  ['PR.ADBE Alpha Adjust', 'Alpha Adjust', [['Opacity', 100], ['Ignore Alpha', false], ['Invert Alpha', false], ['Mask Only', false]]],
  ['AE.ADBE Drop Shadow', 'Drop Shadow', [['Shadow Color', BLACK], ['Opacity', 50], ['Direction', 135], ['Distance', 5], ['Softness', 0], ['Shadow Only', false]]],
  ['AE.ADBE Linear Wipe', 'Linear Wipe', [['Transition Completion', 0], ['Wipe Angle', 90], ['Feather', 0]]],
  ['AE.ADBE Radial Wipe', 'Radial Wipe', [['Transition Completion', 0], ['Start Angle', 0], ['Wipe Center', CENTER], ['Wipe', 0], ['Feather', 0]]],
  ['AE.ADBE Venetian Blinds', 'Venetian Blinds', [['Transition Completion', 0], ['Direction', 0], ['Width', 10], ['Feather', 0]]],
  ['AE.ADBE Block Dissolve', 'Block Dissolve', [['Transition Completion', 0], ['Block Width', 1], ['Block Height', 1], ['Feather', 0], ['Soft Edges (Best Quality)', true]]],
  ['AE.ADBE Four-Color Gradient', '4-Color Gradient', [['Point 1', { x: 0.1, y: 0.1 }], ['Color 1', { red: 1, green: 1, blue: 0, alpha: 1 }], ['Point 2', { x: 0.9, y: 0.1 }], ['Color 2', GREEN], ['Blend', 100], ['Opacity', 100]]],
  ['AE.ADBE Ramp', 'Gradient', [['Start of Ramp', { x: 0.5, y: 0 }], ['Start Color', BLACK], ['End of Ramp', { x: 0.5, y: 1 }], ['End Color', WHITE], ['Ramp Shape', 0]]],
  ['AE.ADBE Grid', 'Grid', [['Anchor', CENTER], ['Size From', 0], ['Width', 60], ['Border', 3], ['Color', WHITE], ['Opacity', 100]]],
  ['AE.ADBE Lens Flare', 'Lens Flare', [['Flare Center', { x: 0.2, y: 0.2 }], ['Flare Brightness', 100], ['Lens Type', 0], ['Blend With Original', 0]]],
  ['AE.ADBE Lightning', 'Lightning', [['Start Point', { x: 0.1, y: 0.5 }], ['End Point', { x: 0.9, y: 0.5 }], ['Segments', 7], ['Amplitude', 10]]],
  ['AE.ADBE Replicate', 'Replicate', [['Count', 2]]],
  ['AE.ADBE Timecode', 'Timecode', [['Position', { x: 0.5, y: 0.9 }], ['Size', 15], ['Opacity', 50], ['Field Symbol', true], ['Format', 0]]],
  ['AE.ADBE Clip Name', 'Clip Name', [['Position', { x: 0.5, y: 0.9 }], ['Alignment', 1], ['Size', 15], ['Opacity', 50]]],
  ['AE.ADBE Text', 'Text', [['Source Text', ''], ['Position', CENTER], ['Opacity', 100]]],
];

/** [matchName, displayName, [[param, default], …]]; every audio effect also has Bypass first. */
const AUDIO_EFFECTS = [
  ['ADBE Amplify', 'Amplify', [['Left', 0], ['Right', 0]]],
  ['ADBE Channel Volume', 'Channel Volume', [['Left', 1], ['Right', 1]]],
  ['ADBE Bass', 'Bass', [['Boost', 0]]],
  ['ADBE Treble', 'Treble', [['Boost', 0]]],
  ['ADBE Balance', 'Balance', [['Balance', 0]]],
  ['ADBE Fill Left', 'Fill Left with Right', []],
  ['ADBE Fill Right', 'Fill Right with Left', []],
  ['ADBE Swap Channels', 'Swap Channels', []],
  ['ADBE Invert', 'Invert', []],
  ['ADBE Highpass', 'Highpass', [['Cutoff', 20]]],
  ['ADBE Lowpass', 'Lowpass', [['Cutoff', 20000]]],
  ['ADBE Bandpass', 'Bandpass', [['Center', 1000], ['Q', 1]]],
  ['ADBE Notch Filter', 'Notch Filter', [['Frequency', 1000], ['Gain', -20]]],
  ['ADBE Simple Notch Filter', 'Simple Notch Filter', [['Center', 1000], ['Q', 1]]],
  ['ADBE Parametric EQ', 'Parametric Equalizer', [['Master Gain', 0]]],
  ['ADBE Graphic EQ 10', 'Graphic Equalizer (10 Bands)', [['Range', 0], ['Master Gain', 0]]],
  ['ADBE DeNoise', 'DeNoise', [['Amount', 40]]],
  ['ADBE DeEsser', 'DeEsser', [['Threshold', -20]]],
  ['ADBE DeHummer', 'DeHummer', [['Frequency', 60]]],
  ['ADBE Adaptive Noise Reduction', 'Adaptive Noise Reduction', [['Reduce Noise By', 10]]],
  ['ADBE Automatic Click Remover', 'Automatic Click Remover', [['Threshold', 30]]],
  ['ADBE Dynamics', 'Dynamics', [['Threshold', -20], ['Ratio', 2]]],
  ['ADBE Dynamics Processing', 'Dynamics Processing', [['Gain', 0]]],
  ['ADBE Hard Limiter', 'Hard Limiter', [['Maximum Amplitude', -0.1], ['Input Boost', 0]]],
  ['ADBE Multiband Compressor', 'Multiband Compressor', [['Output Gain', 0]]],
  ['ADBE Single-band Compressor', 'Single-band Compressor', [['Threshold', -20], ['Ratio', 4]]],
  ['ADBE Tube-modeled Compressor', 'Tube-modeled Compressor', [['Threshold', -20], ['Ratio', 4]]],
  ['ADBE Delay', 'Delay', [['Delay', 1], ['Feedback', 0], ['Mix', 50]]],
  ['ADBE Analog Delay', 'Analog Delay', [['Delay', 200], ['Feedback', 50]]],
  ['ADBE Multitap Delay', 'Multitap Delay', [['Mix', 50]]],
  ['ADBE Chorus Flanger', 'Chorus/Flanger', [['Speed', 1], ['Width', 50]]],
  ['ADBE Flanger', 'Flanger', [['Speed', 1], ['Depth', 50]]],
  ['ADBE Phaser', 'Phaser', [['Stages', 8], ['Depth', 50]]],
  ['ADBE Distortion', 'Distortion', [['Drive', 0]]],
  ['ADBE Pitch Shifter', 'Pitch Shifter', [['Semi-tones', 0], ['Cents', 0]]],
  ['ADBE Reverb', 'Reverb', [['Mix', 50]]],
  ['ADBE Studio Reverb', 'Studio Reverb', [['Decay', 1500], ['Width', 100]]],
  ['ADBE Convolution Reverb', 'Convolution Reverb', [['Mix', 50]]],
  ['ADBE Surround Reverb', 'Surround Reverb', [['Mix', 50]]],
  ['ADBE Vocal Enhancer', 'Vocal Enhancer', [['Mode', 0]]],
  ['ADBE Stereo Expander', 'Stereo Expander', [['Center Channel Pan', 0], ['Stereo Expand', 0]]],
  ['ADBE Loudness Radar', 'Loudness Radar', []],
  ['ADBE Mute', 'Mute', [['Mute Left', false], ['Mute Right', false]]],
  ['ADBE Channel Mixer', 'Channel Mixer', []],
];

const VIDEO_TRANSITIONS = [
  'AE.ADBE Cross Dissolve New', 'AE.ADBE Dip To Black', 'AE.ADBE Dip To White', 'AE.ADBE Film Dissolve',
  'AE.ADBE Additive Dissolve', 'AE.ADBE Non-Additive Dissolve', 'AE.ADBE MorphCut', 'AE.ADBE CrossZoom',
  'AE.ADBE Push', 'AE.ADBE Slide', 'AE.ADBE Split', 'AE.ADBE Center Split', 'AE.ADBE Wipe',
  'AE.ADBE Band Wipe', 'AE.ADBE Barn Doors', 'AE.ADBE Checker Wipe', 'AE.ADBE CheckerBoard',
  'AE.ADBE Clock Wipe', 'AE.ADBE Gradient Wipe', 'AE.ADBE Inset', 'AE.ADBE Paint Splatter',
  'AE.ADBE Pinwheel', 'AE.ADBE Radial Wipe', 'AE.ADBE Random Blocks', 'AE.ADBE Random Wipe',
  'AE.ADBE Spiral Boxes', 'AE.ADBE Venetian Blinds', 'AE.ADBE Wedge Wipe', 'AE.ADBE Zig-Zag Blocks',
  'AE.ADBE Iris Box', 'AE.ADBE Iris Cross', 'AE.ADBE Iris Diamond', 'AE.ADBE Iris Round',
  'AE.ADBE Cube Spin', 'AE.ADBE Flip Over', 'AE.ADBE Page Peel', 'AE.ADBE Page Turn',
];

/** The template component that a Motion Graphics template brings (its exposed controls). */
const MOGRT_COMPONENT = 'AE.ADBE Capsule';

/** Premiere's default video transition duration (Preferences > Timeline), in seconds. */
const DEFAULT_TRANSITION_SECONDS = 1;

module.exports = { VIDEO_EFFECTS, AUDIO_EFFECTS, VIDEO_TRANSITIONS, MOGRT_COMPONENT, DEFAULT_TRANSITION_SECONDS };
