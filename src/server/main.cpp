#include "server/startup.hpp"

int main(int argc, char** argv) { return cutrelay::run_bridge(argc, argv); }
