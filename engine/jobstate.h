#pragma once
// The state that the engine and the main window share: the three module
// variables of the engine.

#include <QString>
#include <cstdint>
#include <string>

namespace TRAVO1 {

// Truth values as the program passes them: -1 true, 0 false.
constexpr int16_t True = -1;
constexpr int16_t False = 0;

// Stop request: the ESC key sets it to 1; the tree copy winds down on 1.
extern uint8_t StopFlag;
// An entry's name as the host keeps it, made text only when it is read: a
// walk sets one for every entry and reads few.
class EntryName {
public:
    EntryName& operator=(const std::string& hostName);
    EntryName& operator=(const QString& text);
    void clear();
    QString text() const;
    // The host bytes, also of a name set as text.
    std::string host() const;

private:
    std::string m_host;
    QString m_text; // when set as text
};

// The name the directory listing returned last, at any level.
extern EntryName CurrentName;
// The destination of the most recently started run, for the run log.
extern QString DestPath;

} // namespace TRAVO1
