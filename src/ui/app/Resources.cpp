#include "ui/app/Resources.h"

#include <QtGlobal>

void InitResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(quindle);
        return true;
    }();
    (void)done;
}
