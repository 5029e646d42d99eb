#include "platform/errors.h"

#include <cerrno>

namespace platform {

RecordedError& Err() {
    static thread_local RecordedError recorded;
    return recorded;
}

void clearError() {
    Err() = RecordedError{};
}

QString describe(int32_t number) {
    switch (number) {
    case 0:
        return QString();
    case ErrInvalidCall:
        return QStringLiteral("Chamada de procedimento ou argumento inválido");
    case ErrOverflow:
        return QStringLiteral("Estouro");
    case ErrSubscript:
        return QStringLiteral("Subscrito fora do intervalo");
    case ErrBadFileName:
        return QStringLiteral("Nome ou número de arquivo inválido");
    case ErrFileNotFound:
        return QStringLiteral("Arquivo não encontrado");
    case ErrDeviceIO:
        return QStringLiteral("Erro de E/S no dispositivo");
    case ErrDiskFull:
        return QStringLiteral("Disco cheio");
    case ErrDeviceUnavailable:
        return QStringLiteral("Dispositivo não disponível");
    case ErrPermissionDenied:
        return QStringLiteral("Permissão negada");
    case ErrDiskNotReady:
        return QStringLiteral("Disco não está pronto");
    case ErrPathFileAccess:
        return QStringLiteral("Erro de acesso ao caminho/arquivo");
    case ErrPathNotFound:
        return QStringLiteral("Caminho não encontrado");
    default:
        return QStringLiteral("Erro definido pelo aplicativo ou pelo objeto");
    }
}

void raiseError(int32_t number) {
    Err() = RecordedError{number, describe(number)};
    throw Failure(number);
}

int32_t errorFromErrno(int err, Missing missing) {
    switch (err) {
    case ENOENT:
        return missing == Missing::File ? ErrFileNotFound : ErrPathNotFound;
    case ENOTDIR:
        return ErrPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: // a write-protected volume refuses like a protected file
    case EBUSY:
    case ETXTBSY: // in use by another program
        return ErrPermissionDenied;
    case ENOSPC:
    case EDQUOT:
        return ErrDiskFull;
    case EIO:
    case EREMOTEIO:
        return ErrDeviceIO;
    case ENXIO:
    case ENODEV:
    case ESTALE: // a network volume that went away
    case ENOTCONN:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ETIMEDOUT:
        return ErrDeviceUnavailable;
    case ENOMEDIUM:
        return ErrDiskNotReady;
    case EINVAL: // a name the file system cannot store (vfat: * ? : ...)
    case EILSEQ: // a name not valid in the volume's character set
    case EBADF:
        return ErrBadFileName;
    case ENAMETOOLONG:
    case EISDIR:
    case EEXIST:
    case ENOTEMPTY:
    case ELOOP:
    case EFBIG: // larger than the destination's file system can hold
    case EXDEV:
    case EMFILE:
    case ENFILE:
    default:
        return ErrPathFileAccess;
    }
}

void raiseErrno(int err, Missing missing) {
    raiseError(errorFromErrno(err, missing));
}

} // namespace platform
