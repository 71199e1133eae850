#pragma once
// Point tables: coordinate files with point identifiers, beside the ".crd" files.
//
// A point table holds one point a line, as "id, x, y, z", "id, x, y" or "x, y": CSV (comma,
// optionally double-quoted fields), or fields separated by ';', by tabs or by blanks; an optional
// heading line naming the columns (id/name/point/№/номер/точка, x/e, y/n, z/h/height/высота,
// role/роль, sigma/sigma_px/σ/ско; any case, any order); blank lines and lines starting with '#'
// are skipped. Only a heading brings the role and σ columns:
//   role   "control" or "опорная" (a control point, also an empty field), "check" or
//          "контрольная" (a check point: out of the fit, its misses reported); any case;
//   sigma  the σ of each coordinate of the point: pixels in an image table, scene units in a
//          scene table; a number above 0, or empty for the precision of the whole file. Numbers
//          take '.' or ',' as the decimal separator (a ','
// inside a comma-separated field only when the field is quoted).
//
// Which reader a file goes to: a file named *.csv, *.txt or *.tsv (any case) is a point table.
// Any other file (a ".crd" one) is a point table only when its first line is one that no ".crd"
// file can hold and that shows a table: a '#' comment, a heading line, or three values. A first
// line that reads as a ".crd" line ("number ; number"), an empty file and every other first line
// go to the ".crd" reader, so every file it reads reads exactly as before, and every file it
// refuses that shows no table is still refused.

#include <string>
#include <string_view>
#include <vector>

#include "base/zelv_error.h"

namespace zelv {

// A point table that does not read; the message (Russian) names the file, the line and what to
// change.
class PointTableError : public ZelvError {
 public:
  using ZelvError::ZelvError;
};

struct PointTable {
  struct Point {
    double x = 0;
    double y = 0;
    double z = 0;        // 0 without a z column
    double sigma = 0;    // 0 without a σ column or with an empty field
    bool check = false;  // a check point (the role column)
  };
  std::vector<Point> points;     // in file order
  std::vector<std::string> ids;  // one per point, in file order; empty when there is no id column
  std::vector<int> lines;        // the line of each point, from 1
  bool hasZ = false;             // the table has a z column
  bool hasRole = false;          // ... a role column
  bool hasSigma = false;         // ... a σ column
};

// True when the file of that name with that text is to be read as a point table (rule above).
bool IsPointTable(const std::string& name, std::string_view text);

// True when the file at `path` is a point table by the rule above: by its name alone, or by its
// first line when it reads (false when it does not).
bool IsPointTableFile(const std::string& path);

// Reads the text of a point table; `name` is the file's name for the messages. Raises
// PointTableError on a line that does not read, a missing or duplicate identifier, or a heading
// that names no x and y column, a role that is none, or a σ that is not above 0.
PointTable ParsePointTable(std::string_view text, const std::string& name);

// Orders identifiers for pairing: identifiers of digits only come first by their value (then by
// their text, "07" before "7"), all others after them by their bytes.
bool PointIdLess(const std::string& a, const std::string& b);

}  // namespace zelv
