#include "platform/events.h"

#include <QCoreApplication>

namespace platform {

void pumpEvents() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

} // namespace platform
