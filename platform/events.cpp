#include "platform/events.h"

#include "platform/files.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace platform {

void pumpEvents() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void endProgram() {
    FileSystem::get().removeTemporaryFiles();
    std::fflush(nullptr);
    std::_Exit(0);
}

} // namespace platform
