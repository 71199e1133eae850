#pragma once
// Saving the shown result as an ".ort" file (files/ort_file.h): the save command and the state's
// lines.

#include <string>
#include <vector>

#include "app/orientation_state.h"
#include "base/user_interface.h"
#include "files/ort_file.h"

namespace zelv {

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
