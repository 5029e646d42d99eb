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

std::string EntryName::host() const {
    return m_host.empty() ? platform::hostBytes(m_text) : m_host;
}

} // namespace TRAVO1
