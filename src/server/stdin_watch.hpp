#pragma once
// Ending the bridge when the program that started it is gone.
//
// cutrelay-mcp starts its bridge with CUTRELAY_EXIT_WITH_STDIN=1 and standard input on a
// pipe that only the relay holds open. However the relay ends (closing its input, a
// signal, even kill -9, which it cannot report), the pipe then reaches its end, and the
// bridge ends as it does on SIGTERM. Linux and macOS both close a dead process's
// descriptors, so no platform mechanism beyond the pipe is needed.
#include <boost/asio/io_context.hpp>

namespace cutrelay {

inline constexpr const char* kExitWithStdinVariable = "CUTRELAY_EXIT_WITH_STDIN";

// Whether the environment asks for it (the variable is "1").
bool exit_with_stdin_requested();

// Watches standard input on `ioc` and sends this process SIGTERM when it reaches its end or
// fails. What is read is dropped.
void exit_when_stdin_ends(boost::asio::io_context& ioc);

}  // namespace cutrelay
