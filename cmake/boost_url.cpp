// Boost.URL's compiled part, for builds without a packaged libboost_url.
#include <boost/url/src.hpp>
