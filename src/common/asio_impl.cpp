// The one translation unit that compiles Asio and Beast (they are built with separate
// compilation everywhere else, which keeps rebuilds on two cores short).
#include <boost/asio/impl/src.hpp>
#include <boost/beast/src.hpp>
