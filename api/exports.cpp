// The shared library's own source: everything it holds comes from the API's
// archive, linked whole; this unit only anchors the target.
#include "kcenter/kcenter.hpp"
