#include "platform/progresswindow.h"

namespace platform {

namespace {

ProgressWindow::Factory& installedFactory() {
    static ProgressWindow::Factory factory;
    return factory;
}

class NoProgress : public ProgressWindow {
public:
    bool update(int) override { return true; }
};

} // namespace

std::unique_ptr<ProgressWindow> ProgressWindow::open(const QString& fileName) {
    if (installedFactory())
        return installedFactory()(fileName);
    return std::make_unique<NoProgress>();
}

void ProgressWindow::install(Factory factory) {
    installedFactory() = std::move(factory);
}

} // namespace platform
