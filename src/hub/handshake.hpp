#pragma once
// The challenge that lets an in-app plug-in tell the bridge from any other process that
// happens to listen on the port named in connection.json, without ever giving its token
// to that process.
//
//   1. The plug-in dials /ws?nonce=<N_p>, a fresh random nonce of its own, and no token.
//   2. Right after the upgrade the bridge sends
//        {"nonce": N_b, "proof": HMAC(token, "quor-bridge-proof\n<port>\n<N_p>\n<N_b>"),
//         "type": "challenge"}
//      where N_b is a fresh nonce of the bridge's and <port> the port it listens on.
//   3. The plug-in checks the proof in constant time. A process that does not know the
//      token cannot make it; the plug-in then closes the socket, says so in its log and
//      tries again later. Otherwise it sends its hello with
//        "proof": HMAC(token, "quor-plugin-proof\n<port>\n<N_b>\n<N_p>").
//   4. The bridge registers the connection only once that proof checks out, and closes it
//      when anything else comes first or nothing comes within the handshake time-out.
//
// HMAC is HMAC-SHA-256 keyed by the token's bytes, written as 64 lower-case hexadecimal
// digits. The two labels differ, so neither side's proof can be reflected back as the
// other's; the port ties a proof to the listener the plug-in dialled, so a process on a
// stale port cannot relay the exchange to a bridge listening elsewhere. Connections that
// present the token itself (/ws?token=…, as callers and test peers do) skip the challenge.
#include <cstdint>
#include <string>
#include <string_view>

namespace cutrelay {

// Bytes of randomness in the bridge's nonce (sent as twice as many hexadecimal digits).
inline constexpr std::size_t kNonceBytes = 32;

// Whether a plug-in's nonce is acceptable: 32 to 128 hexadecimal digits.
bool is_valid_nonce(std::string_view nonce);

// A fresh nonce from the operating system's entropy source, in lower-case hexadecimal.
std::string new_nonce();

std::string bridge_proof(std::string_view token, std::uint16_t port, std::string_view plugin_nonce,
                         std::string_view bridge_nonce);
std::string plugin_proof(std::string_view token, std::uint16_t port, std::string_view bridge_nonce,
                         std::string_view plugin_nonce);

// {"nonce":…,"proof":…,"type":"challenge"}: the bridge's first message on a challenged
// connection.
std::string challenge_text(std::string_view bridge_nonce, std::string_view proof);

}  // namespace cutrelay
