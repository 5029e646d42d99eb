#pragma once
// The progress window of a large-file copy: the file's name, a percentage
// and a Cancel button. The program installs the window it shows (ui/, or the
// terminal's progress in cli/) through the same kind of seam as the message
// box; with none installed a copy shows no progress and is never cancelled.

#include <QString>
#include <functional>
#include <memory>

namespace platform {

class ProgressWindow {
public:
    virtual ~ProgressWindow() = default;
    // Shows the percentage (0 to 100) and lets window events through;
    // false once the operator has pressed Cancel.
    virtual bool update(int percent) = 0;

    // Opens the window for one file.
    static std::unique_ptr<ProgressWindow> open(const QString& fileName);

    using Factory = std::function<std::unique_ptr<ProgressWindow>(const QString& fileName)>;
    static void install(Factory factory); // an empty one shows nothing
};

} // namespace platform
