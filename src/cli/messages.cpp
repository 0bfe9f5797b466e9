// The programs' messages: system errors in Spanish, usage errors, standard output checked.
#include "cli/messages.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace muller::cli {

std::string error_phrase(int error) {
  // The errors that writing a file into place, or standard output, can meet.
  static const struct {
    int error;
    const char* phrase;
  } phrases[] = {
      {ENOENT, "no existe el fichero o el directorio"},
      {EACCES, "permiso denegado"},
      {EPERM, "operacion no permitida"},
      {EROFS, "el sistema de ficheros es de solo lectura"},
      {ENOSPC, "no queda espacio en el dispositivo"},
      {EDQUOT, "se ha superado la cuota de disco"},
      {EISDIR, "es un directorio"},
      {ENOTDIR, "una parte de la ruta no es un directorio"},
      {ENAMETOOLONG, "el nombre es demasiado largo"},
      {ELOOP, "demasiados niveles de enlaces simbolicos"},
      {EFBIG, "el fichero supera el tamano permitido"},
      {EIO, "error de entrada/salida del dispositivo"},
      {EMFILE, "el proceso tiene demasiados ficheros abiertos"},
      {ENFILE, "el sistema tiene demasiados ficheros abiertos"},
      {ENOMEM, "no hay memoria suficiente"},
      {EEXIST, "el fichero ya existe"},
      {EXDEV, "el fichero temporal y el destino estan en sistemas de ficheros distintos"},
      {EBADF, "el descriptor de fichero no es valido (la salida esta cerrada)"},
      {EPIPE, "la tuberia esta cerrada por el otro extremo"},
      {ETXTBSY, "el fichero es un programa en ejecucion"},
      {EBUSY, "el dispositivo o recurso esta ocupado"},
      {ENXIO, "no existe el dispositivo o la direccion"},
      {ENODEV, "el dispositivo no admite la operacion"},
      {EINVAL, "argumento no valido para el sistema"},
      {EAGAIN, "recurso no disponible por ahora"},
      {EINTR, "la llamada al sistema fue interrumpida"},
      {ESTALE, "el fichero remoto ya no es valido"},
      {ENOLCK, "no quedan cerrojos disponibles"},
      {ENOSYS, "el sistema no implementa la operacion"},
      {EOVERFLOW, "el valor es demasiado grande para el sistema"},
      {ECONNRESET, "el otro extremo cerro la conexion"},
      // And those of listening on an address.
      {EADDRINUSE, "la direccion ya esta en uso"},
      {EADDRNOTAVAIL, "la direccion no es de este equipo"},
      {EAFNOSUPPORT, "el sistema no admite esa familia de direcciones"},
  };
  if (error == 0) {
    return "causa desconocida";
  }
  for (const auto& p : phrases) {
    if (p.error == error) {
      return p.phrase;
    }
  }
  return "error del sistema " + std::to_string(error) + " (" + std::strerror(error) + ")";
}

void usage_error(const char* program, const std::string& problem) {
  std::fprintf(stderr, "%s: %s (vease '%s --help')\n", program, problem.c_str(), program);
  std::exit(2);
}

bool stdout_written(const char* program) {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
    return true;
  }
  const std::string cause = error_phrase(errno);
  std::fprintf(stderr, "%s: error de escritura en la salida estandar: %s\n", program, cause.c_str());
  return false;
}

void print_and_exit(const char* program, const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::exit(stdout_written(program) ? 0 : 1);
}

}  // namespace muller::cli
