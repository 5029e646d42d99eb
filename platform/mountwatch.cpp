#include "platform/mountwatch.h"
#include "platform/drives.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

void onMountsChanged(QObject* context, std::function<void()> changed) {
    static QPointer<QSocketNotifier> notifier; // one for the process, owned by the application
    if (!notifier) {
        if (!QCoreApplication::instance())
            return;
        const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        // The change shows as an exceptional condition (POLLPRI); the file is
        // always readable, so a read notifier would never rest.
        notifier =
            new QSocketNotifier(fd, QSocketNotifier::Exception, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, [] { DriveTable::refresh(); });
        QObject::connect(notifier, &QObject::destroyed, [fd] { ::close(fd); });
    }
    QObject::connect(notifier, &QSocketNotifier::activated, context, std::move(changed));
}

} // namespace platform
