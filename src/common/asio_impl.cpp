// The one translation unit that compiles Asio, Beast and Process v2 (they are built with
// separate compilation everywhere else, which keeps rebuilds on two cores short).
#include <boost/asio/impl/src.hpp>
#include <boost/beast/src.hpp>
#include <boost/process/v2/src.hpp>
