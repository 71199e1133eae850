#pragma once
// The orientation result file (".ort"): 21 lines, each a FormatFixed4 value followed by its
// comment, Windows-1251, CR LF.

#include <string>
#include <vector>

#include "app/orientation_state.h"
#include "base/user_interface.h"

namespace zelv {

// The comment written after each of the 21 values, in ResultIndex order (each begins " ; ").
extern const char* const kResultFileComments[kResultCount];

// The proposed name: the image file's name without its folder, cut at its first "." + ".ort".
std::string DefaultOrtName(const std::string& imageFileName);

// The 21 lines: the projection centre formatted from ProjectionCentre, the rest from the fields.
std::vector<std::string> ResultFileLines(const OrientationState& state);

// Writes the 21 lines to `path` (atomically, Windows-1251, CR LF). Raises ZelvError on failure.
void WriteResultFile(const std::string& path, const OrientationState& state);

enum class SaveOutcome { Cancelled, Declined, Written, Failed };

// The save command: proposes DefaultOrtName in the ".ort" save dialog, asks before replacing an
// existing file ("Файл <name> уже существует. Перезаписать?" / "Предупреждение"), writes the file
// atomically, and reports "Ошибка записи ort-файла!" / "Ошибка!" on failure. The result becomes
// saved (ResultSaved true, SaveEnabled false) only when the file was written.
SaveOutcome SaveResultFile(OrientationState& state, UserInterface& ui, Owner mainWindow);

}  // namespace zelv
