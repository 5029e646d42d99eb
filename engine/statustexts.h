#pragma once
// The texts that show a run's events, the same wherever they are shown: in
// the window, on the terminal and in the run log.

#include "platform/errors.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <string>

namespace TRAVO1 {

// "Copiando De: " and the file, "Para: " and its copy, "Verificando " and
// the copy: `dir` is the folder's text, ending in "\", `name` the host name.
QString copyingText(const QString& sourceDir, const std::string& name);
QString targetText(const QString& destDir, const std::string& name);
QString verifyingText(const QString& destDir, const std::string& name);
// "Criando diretório " and the folder's text.
QString folderMakingText(const QString& destination);
// "Erro: " with the number and description of a level's error.
QString levelFailedText(const platform::RecordedError& error);
// "Erro na execução da cópia. " and the number.
QString reportedText(int32_t error);
// "Cópia Atualizada - " and the date.
QString completedText(const QDateTime& at);
// "Horário Inicial:   " and "Horário Final:     " with the time.
QString startTimeText(const QDateTime& at);
QString endTimeText(const QDateTime& at);
// "Cópia interrompida.": a run that a stop request cut short.
QString stoppedText();
// That the run goes on without the run lock, and why.
QString noLockText(int32_t error);
// "Não copiado: " and the source text of a file or folder that did not
// reach the destination.
QString notCopiedText(const QString& path);
// "3 arquivos não copiados", "1 arquivo não copiado".
QString notCopiedCountText(int64_t count);
// "... e mais 3 arquivos não copiados": those the run log does not name.
QString moreNotCopiedText(int64_t count);
// A count in the regional form with its noun: `one` for 1, else `many`.
QString counted(int64_t n, const char* one, const char* many);

// The file in hand as a front end that shows a few a second keeps it: its
// texts are composed only when shown.
struct FileInHand {
    QString sourceDir, destDir;
    std::string name;
    bool pending = false; // given since the texts were last composed

    void set(const QString& source, const QString& dest, const std::string& hostName);
    QString status() const { return copyingText(sourceDir, name); }
    QString target() const { return targetText(destDir, name); }
};

} // namespace TRAVO1
