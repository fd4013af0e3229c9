#include "res/resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initKivvoResources()
{
    Q_INIT_RESOURCE(res);
}

namespace res {

void initResources()
{
    static const bool done = [] {
        initKivvoResources();
        return true;
    }();
    (void)done;
}

} // namespace res
