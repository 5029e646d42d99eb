#include "engine/statustexts.h"
#include "platform/names.h"
#include "platform/regional.h"
#include "platform/runlock.h"

namespace TRAVO1 {

using namespace platform;

QString copyingText(const QString& sourceDir, const std::string& name) {
    return QStringLiteral("Copiando De: ") + sourceDir + hostText(name);
}

QString targetText(const QString& destDir, const std::string& name) {
    return QStringLiteral("Para: ") + destDir + hostText(name);
}

QString verifyingText(const QString& destDir, const std::string& name) {
    return QStringLiteral("Verificando ") + destDir + hostText(name);
}

QString folderMakingText(const QString& destination) {
    return QStringLiteral("Criando diretório ") + destination;
}

QString levelFailedText(const RecordedError& error) {
    return QStringLiteral("Erro: ") + QString::number(error.number) + QStringLiteral(" - ") +
           error.description;
}

QString reportedText(int32_t error) {
    return QStringLiteral("Erro na execução da cópia. ") + QString::number(error);
}

QString completedText(const QDateTime& at) {
    return QStringLiteral("Cópia Atualizada - ") + dateText(at);
}

QString startTimeText(const QDateTime& at) {
    return QStringLiteral("Horário Inicial:   ") + timeText(at);
}

QString endTimeText(const QDateTime& at) {
    return QStringLiteral("Horário Final:     ") + timeText(at);
}

QString stoppedText() {
    return QStringLiteral("Cópia interrompida.");
}

QString noLockText(int32_t error) {
    return QStringLiteral("Cópia sem trava: não foi possível criar nem abrir %1 na pasta do "
                          "programa (%2); nada impede outra cópia desta pasta ao mesmo tempo.")
        .arg(QLatin1String(RunLock::FileName), describe(error));
}

QString notCopiedText(const QString& path) {
    return QStringLiteral("Não copiado: ") + path;
}

QString notCopiedCountText(int64_t count) {
    return counted(count, "arquivo não copiado", "arquivos não copiados");
}

QString moreNotCopiedText(int64_t count) {
    return QStringLiteral("... e mais ") + notCopiedCountText(count);
}

QString counted(int64_t n, const char* one, const char* many) {
    return regionalLocale().toString(qint64(n)) + QLatin1Char(' ') +
           QString::fromUtf8(n == 1 ? one : many);
}

void FileInHand::set(const QString& source, const QString& dest, const std::string& hostName) {
    // Shared, not copied; and a level's files give the same two, so most
    // calls need not even count another reference.
    const auto same = [](const QString& a, const QString& b) {
        return a.constData() == b.constData() && a.size() == b.size();
    };
    if (!same(sourceDir, source))
        sourceDir = source;
    if (!same(destDir, dest))
        destDir = dest;
    name.assign(hostName);
    pending = true;
}

} // namespace TRAVO1
