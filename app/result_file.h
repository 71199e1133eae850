#pragma once
// Saving an orientation as an ".ort" file (files/ort_file.h): its lines, the one write every
// front end uses, and the window's save command.

#include <string>
#include <vector>

#include "app/orientation.h"
#include "base/user_interface.h"
#include "files/ort_file.h"

namespace zelv {

// The 21 lines: the projection centre formatted from the orientation's centre, the rest from its
// texts.
std::vector<std::string> ResultFileLines(const Orientation& orientation);

// Writes the 21 lines to `path` (atomically, Windows-1251, CR LF); on failure "Ошибка записи
// ort-файла!" / "Ошибка!".
Expected<void> WriteResultFile(const std::string& path, const Orientation& orientation);

enum class SaveOutcome { Cancelled, Declined, Written, Failed };

// The save command: proposes DefaultOrtName(imageFileName) in the ".ort" save dialog, asks before
// replacing an existing file ("Файл <name> уже существует. Перезаписать?" / "Предупреждение"),
// writes the file atomically, and shows WriteResultFile's failure (owned by `mainWindow`). Only
// Written makes the result saved; `writtenPath`, when given, then receives the path written (as
// the dialog returned it).
SaveOutcome SaveResultFile(const Orientation& orientation, const std::string& imageFileName,
                           UserInterface& ui, Owner mainWindow, std::string* writtenPath = nullptr);

}  // namespace zelv
