// The library's one export, DllMainCall: a complete run of the stack from the
// published file dataset down to the table file. It opens the table "movie"
// in the current directory, shows the text of the first field of the first
// record in the host's message box and closes everything again. Nothing
// leaves it as a C++ exception: a failure ends in the engine's stop box.
#include <memory>
#include <string>

#include "dataset/file_dataset.h"
#include "framework/forms.h"
#include "library/exported_entry.h"

#ifdef _WIN32
#define QD_EXPORT extern "C" __declspec(dllexport)
#define QD_STDCALL __stdcall
#else
#define QD_EXPORT extern "C" __attribute__((visibility("default")))
#define QD_STDCALL
#endif

namespace {

// The dataset is freed on every path, an exception raised by a step
// included; the guard then reports that failure.
void ShowFirstMovieField() {
  auto movies = std::make_unique<qd::TQdDbf>(nullptr);
  movies->SetDbfFileName("movie");
  movies->SetActive(true);
  const std::string text = movies->Fields()[0]->AsString();
  qd::fw::ShowMessage(text);
  movies->SetActive(false);
}

}  // namespace

QD_EXPORT void QD_STDCALL DllMainCall() {
  qd::library::RunExported("DllMainCall", ShowFirstMovieField);
}
