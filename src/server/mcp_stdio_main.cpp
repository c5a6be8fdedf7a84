#include "server/mcp_stdio.hpp"

int main(int argc, char** argv) { return cutrelay::run_stdio_relay(argc, argv); }
