#include "engine/jobstate.h"
#include "platform/names.h"

#include <QFile>

namespace TRAVO1 {

uint8_t StopFlag = 0;
EntryName CurrentName;
QString DestPath;

EntryName& EntryName::operator=(const std::string& hostName) {
    m_host.assign(hostName); // in the room of the last name, mostly
    m_text.clear();
    return *this;
}

EntryName& EntryName::operator=(const QString& text) {
    m_host.clear();
    m_text = text;
    return *this;
}

void EntryName::clear() {
    m_host.clear();
    m_text.clear();
}

QString EntryName::text() const {
    return m_host.empty() ? m_text : platform::hostText(m_host);
}

void FileInHand::set(const QString& source, const QString& dest, const std::string& hostName) {
    sourceDir = source; // shared, not copied
    destDir = dest;
    name.assign(hostName);
    pending = true;
}

QString FileInHand::status() const {
    return QStringLiteral("Copiando De: ") + sourceDir + platform::hostText(name);
}

QString FileInHand::target() const {
    return QStringLiteral("Para: ") + destDir + platform::hostText(name);
}

void WindowModel::notice(const QString& text) {
    setLblCopyInfo(text);
    repaintLblCopyInfo();
}

void WindowModel::showCopying(const QString& sourceDir, const QString& destDir,
                              const std::string& name) {
    const FileInHand file{sourceDir, destDir, name};
    const QString target = file.target();
    setLblCopyInfo(file.status());
    setLblCopyInfo2(target);
    setCaption(target);
}

void WindowModel::showVerifying(const QString& destDir, const std::string& name) {
    setLblCopyInfo(QStringLiteral("Verificando ") + destDir + platform::hostText(name));
}

} // namespace TRAVO1
