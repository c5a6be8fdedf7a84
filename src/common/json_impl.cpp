// Boost.JSON's compiled parts (error categories, parser support), built once here; the
// bridge uses its parser, not its value types.
#include <boost/json/src.hpp>
