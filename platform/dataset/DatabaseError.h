// DatabaseError: EDatabaseError, the error of the dataset framework and of
// the data-access components built on it, and the framework's own texts.
//
// A component's error reads "<component name>: <text>", or just the text
// when the component has no name (RaiseFor).
#pragma once

#include <stdexcept>
#include <string>

namespace tiv::dataset {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

// Raised when an error handler chose to abort the operation: it stops what
// was running without a message of its own (the program's handler shows
// nothing for it).
class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
};

// The framework's texts (Spanish, as the rest of the program's), in
// Windows-1252 like every engine and framework message.
namespace text {
inline constexpr const char* kFieldNotFound = "Campo '%s' no encontrado";
inline constexpr const char* kDataSetOpen = "No es posible efectuar \xE9sta operaci\xF3n en un DataSet abierto";
inline constexpr const char* kDataSetClosed = "No es posible efectuar esta operaci\xF3n en un DataSet cerrado";
inline constexpr const char* kNotEditing = "El DataSet no est\xE1 en modo de edici\xF3n o inserci\xF3n";
inline constexpr const char* kDataSetEmpty = "No es posible efectuar esta operaci\xF3n en un DataSet vac\xEDo";
inline constexpr const char* kDataSetReadOnly = "No es posible modificar un DataSet de s\xF3lo lectura";
inline constexpr const char* kFieldReadOnly = "El campo '%s' no se puede modificar";
inline constexpr const char* kFieldRequired = "El campo '%s' debe tener un valor";
inline constexpr const char* kNotANumber = "'%s' no es un valor num\xE9rico v\xE1lido";
inline constexpr const char* kCircularDataLink = "Circular datalinks are not allowed";
}  // namespace text

// The text with each "%s" or "%d" replaced by the next argument.
std::string Format(const std::string& pattern, std::initializer_list<std::string> args);
// Raises EDatabaseError for the component named `name`.
[[noreturn]] void RaiseFor(const std::string& name, const std::string& text);

}  // namespace tiv::dataset
