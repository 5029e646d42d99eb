#include "platform/temporarynames.h"
#include "platform/files.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace platform {

namespace {

constexpr time_t day = 24 * 60 * 60;

// Digits only, as a number; -1 for anything else.
long long number(std::string_view text) {
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::strtoll(std::string(text).c_str(), nullptr, 10);
}

// This process's id, asked once: a name is made for every copy.
pid_t ownPid() {
    static const pid_t pid = ::getpid();
    return pid;
}

// Whether a process of this computer is gone. This very process is taken
// for gone: the caller knows the copies it has under way.
bool processGone(pid_t pid) {
    return pid == ownPid() || (::kill(pid, 0) != 0 && errno == ESRCH);
}

} // namespace

const std::string& computerName() {
    static const std::string name = [] {
        char buffer[HOST_NAME_MAX + 1] = {};
        if (::gethostname(buffer, sizeof buffer - 1) != 0 || !buffer[0])
            std::strcpy(buffer, "localhost");
        std::string n(buffer);
        for (char& c : n)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.')
                c = '_';
        return n;
    }();
    return name;
}

std::string temporaryName() {
    // The part that never changes is made once: a name is made for every copy.
    static const std::string stem =
        FileSystem::temporaryPrefix + computerName() + '-' + std::to_string(ownPid()) + '-';
    char tail[40];
    char* end = std::to_chars(tail, tail + 20, ::time(nullptr)).ptr;
    *end++ = '.';
    const uint32_t random = QRandomGenerator::global()->generate();
    for (int shift = 28; shift >= 0; shift -= 4)
        *end++ = "0123456789abcdef"[(random >> shift) & 0xf];
    std::string name;
    name.reserve(stem.size() + size_t(end - tail) + 4);
    return name.append(stem).append(tail, end).append(".tmp");
}

bool abandoned(std::string_view name, const struct stat& st, time_t now) {
    std::string_view rest = name.substr(std::strlen(FileSystem::temporaryPrefix));
    rest.remove_suffix(4); // ".tmp"
    // From the end: "<time>.<random>" (or "<random>" alone), the process id,
    // and the computer's name, which may hold "-" itself.
    const size_t lastDash = rest.rfind('-');
    const std::string_view last = lastDash == rest.npos ? rest : rest.substr(lastDash + 1);
    const size_t pidDash =
        lastDash == rest.npos || lastDash == 0 ? rest.npos : rest.rfind('-', lastDash - 1);
    if (pidDash != rest.npos && rest.substr(0, pidDash) == computerName()) {
        const long long pid = number(rest.substr(pidDash + 1, lastDash - pidDash - 1));
        if (pid > 0 && pid <= INT_MAX)
            return processGone(pid_t(pid));
    }
    const size_t dot = last.find('.');
    const long long named = dot == last.npos ? -1 : number(last.substr(0, dot));
    const time_t made = named >= 0 ? time_t(named) : std::max(st.st_ctime, st.st_mtime);
    return made < now - day;
}

} // namespace platform
