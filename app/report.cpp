#include "app/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/orientation_residuals.h"
#include "base/number_text.h"
#include "base/version.h"
#include "base/zelv_error.h"
#include "files/calibration_file.h"
#include "files/camera_file.h"
#include "files/text_file.h"
#include "solver/refinement_settings.h"

namespace zelv {
namespace {

const char kNone[] = "—";
// Residual rows on the printed page: the rest would need pages of their own.
constexpr std::size_t kPrintedResiduals = 12;

bool IsFinite(double v) { return std::isfinite(v); }

std::string Fixed(double v, int decimals, char separator) {
  if (!IsFinite(v)) return kNone;
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  std::string out = text;
  if (out == "-0" || out.rfind("-0.", 0) == 0) {
    bool zero = true;
    for (char c : out)
      if (c >= '1' && c <= '9') zero = false;
    if (zero) out.erase(0, 1);
  }
  std::replace(out.begin(), out.end(), '.', separator);
  return out;
}

std::string Fixed4(double v, char separator) {
  if (!IsFinite(v)) return kNone;
  return FormatFixed4(v, separator);
}

// A σ with three significant digits (at least four decimals, as the values have).
std::string SigmaText(double v, char separator) {
  if (!IsFinite(v)) return kNone;
  if (v == 0) return Fixed(0, 4, separator);
  const int digits = std::clamp(2 - static_cast<int>(std::floor(std::log10(std::fabs(v)))), 4, 12);
  return Fixed(v, digits, separator);
}

const char* LevelText(int level) {
  switch (level) {
    case 1:
      return "1 — обычная оценка";
    case 3:
      return "3 — точная оценка";
    case kRigorousLevel:
      return "4 — строгая оценка (уравнивание с оценкой точности)";
    default:
      return "0 — быстрая оценка";
  }
}

std::string Row(const std::vector<std::string>& cells, const char* tag = "td") {
  std::string out = "<tr>";
  for (const std::string& cell : cells)
    out += std::string("<") + tag + ">" + cell + "</" + tag + ">";
  return out + "</tr>\n";
}

// Two columns side by side, as a table: Qt's rich text (the PDF) lays out tables, not flex boxes.
const char kColumnsOpen[] = "<table class=\"layout\"><tr><td width=\"57%\">\n";
const char kColumnsNext[] = "</td><td width=\"43%\">\n";
const char kColumnsClose[] = "</td></tr></table>\n";

std::string FigureBlock(const Figure& figure, int index, ReportFigures how) {
  if (how == ReportFigures::kInlineSvg)
    return "<figure>" + FigureSvg(figure) + "<figcaption>" + XmlEscaped(figure.caption) +
           "</figcaption></figure>\n";
  // A third of the page's width, as in the browser.
  const double scale = 210 / std::max(1.0, figure.width);
  return "<img src=\"figure:" + std::to_string(index) + "\" width=\"" +
         std::to_string(static_cast<int>(figure.width * scale)) + "\" height=\"" +
         std::to_string(static_cast<int>(figure.height * scale)) + "\"><br><small>" +
         XmlEscaped(figure.caption) + "</small>\n";
}

const char kStyle[] = R"(<style>
@page { size: A4; margin: 12mm; }
body { font-family: sans-serif; font-size: 8pt; color: #222; margin: 0; }
h1 { font-size: 13pt; margin: 0 0 2mm 0; }
h2 { font-size: 9.5pt; margin: 3mm 0 1mm 0; border-bottom: 1px solid #999; }
table { border-collapse: collapse; margin: 0 0 1mm 0; }
td, th { border: 1px solid #bbb; padding: 0.2mm 1mm; text-align: right; vertical-align: top;
         white-space: nowrap; }
td.t, th.t { text-align: left; white-space: normal; }
th { background: #eee; }
.hash { font-family: monospace; font-size: 6.5pt; }
table.layout { width: 100%; border: none; margin: 0; }
table.layout > tbody > tr > td { border: none; padding: 0 2mm 0 0; text-align: left;
  white-space: normal; }
p { margin: 0.6mm 0; }
figure { margin: 0; }
figure svg { width: 100%; height: auto; }
figcaption { font-size: 7pt; }
.flag { color: #c00; }
.verdict { font-weight: bold; }
.warn { color: #a50; }
table.sortable th { cursor: pointer; }
.paper { display: none; }
@media screen { body { max-width: 270mm; margin: 0 auto; padding: 4mm; }
  .screen { max-height: 90mm; overflow-y: auto; } }
@media print { .screen { display: none; } .paper { display: block; } h2 { break-after: avoid; } figure, table:not(.layout) { break-inside: avoid; } }
</style>
)";

// Sorts the residual table by the column clicked, numerically where the cells are numbers.
const char kSortScript[] = R"(<script>
document.querySelectorAll('table.sortable').forEach(function (table) {
  table.querySelectorAll('th').forEach(function (th, column) {
    th.addEventListener('click', function () {
      var body = table.tBodies[0];
      var rows = Array.prototype.slice.call(body.rows);
      var up = th.getAttribute('data-up') !== '1';
      th.setAttribute('data-up', up ? '1' : '0');
      var key = function (row) {
        var text = row.cells[column].textContent.replace(',', '.');
        var n = parseFloat(text);
        return isNaN(n) ? text : n;
      };
      rows.sort(function (a, b) {
        var x = key(a), y = key(b);
        var order = (typeof x === 'number' && typeof y === 'number') ? x - y
                    : String(x).localeCompare(String(y));
        return up ? order : -order;
      });
      rows.forEach(function (row) { body.appendChild(row); });
    });
  });
});
</script>
)";

// The pairs of pose parameters with the largest correlations (at most `count`).
std::vector<std::string> CorrelationRows(const PoseCovariance& c, std::size_t count,
                                         char separator) {
  struct Pair {
    double rho;
    std::size_t i, j;
  };
  const std::size_t n = c.parameters.size();
  std::vector<Pair> pairs;
  if (c.matrix.size() != n * n) return {};
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      const double d = c.matrix[i * n + i] * c.matrix[j * n + j];
      if (!(d > 0) || !IsFinite(d)) continue;
      const double rho = c.matrix[i * n + j] / std::sqrt(d);
      if (IsFinite(rho)) pairs.push_back({rho, i, j});
    }
  std::stable_sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) {
    return std::fabs(a.rho) > std::fabs(b.rho);
  });
  std::vector<std::string> rows;
  for (std::size_t k = 0; k < std::min(count, pairs.size()); ++k)
    rows.push_back(Row({"<span class=\"t\">" + XmlEscaped(c.parameters[pairs[k].i]) + " — " +
                            XmlEscaped(c.parameters[pairs[k].j]) + "</span>",
                        Fixed(pairs[k].rho, 3, separator)}));
  return rows;
}

std::string CameraSection(const Orientation& o) {
  const char s = o.decimalSeparator;
  const InteriorGeometry& g = o.camera;
  std::string out = "<table>\n";
  out +=
      Row({"<span>Модель</span>",
           g.Lens ? XmlEscaped(g.Lens->modelName.empty() ? "калибровка OpenCV" : g.Lens->modelName)
                  : "cam-файл (центральная проекция, таблица поправок)"});
  out += Row({"Центр изображения x, y, пикс.",
              Fixed4(g.ImageCentreX, s) + "; " + Fixed4(g.ImageCentreY, s)});
  out += Row({"Размер кадра, пикс.", Fixed4(g.ImageWidth, s) + " × " + Fixed4(g.ImageHeight, s)});
  out +=
      Row({"Фокусное расстояние F, пикс.",
           Fixed4(o.focalLength.value, s) +
               (o.focalLength.estimated ? " (оценено, σ " + SigmaText(o.focalLength.sigma, s) + ")"
                                        : " (задано)")});
  if (g.Lens) {
    const LensCalibration& l = *g.Lens;
    out += Row({"fx, fy, пикс.", Fixed4(l.fx, s) + "; " + Fixed4(l.fy, s)});
    out += Row({"cx, cy, пикс.", Fixed4(l.cx, s) + "; " + Fixed4(l.cy, s)});
    std::string k;
    for (double c : l.coefficients)
      k += (k.empty() ? "" : "; ") + FormatGeneral(IsFinite(c) ? c : 0, s);
    out += Row({"Коэффициенты дисторсии", k.empty() ? "нет" : k});
  } else {
    out += Row({"Строк таблицы поправок", std::to_string(g.CorrectionTable.size())});
  }
  return out + "</table>\n";
}

// The known values of the request in one line: each one's value with its unit, and its σ or
// "закреплено"; nothing when none is known.
std::string KnownText(const KnownValues& known, char s) {
  std::string out;
  const auto add = [&](const char* name, const std::optional<KnownValue>& value, const char* unit) {
    if (!value) return;
    out += (out.empty() ? "" : "; ") + std::string(name) + " = " + Fixed4(value->value, s) +
           (value->sigma > 0 ? " ± " + SigmaText(value->sigma, s) : std::string()) + unit +
           (value->sigma > 0 ? "" : " (закреплено)");
  };
  add("X0", known.centreX, " ед. сцены");
  add("Y0", known.centreY, " ед. сцены");
  add("Z0", known.centreZ, " ед. сцены");
  add("c", known.roll, "°");
  add("F", known.focalLength, " пикс.");
  return out;
}

// The check points: each one's image residual and scene miss, and the two RMSE under them.
std::string CheckPointSection(const CheckPoints& checks, char s) {
  std::string out = "<h2>Контрольные точки</h2>\n<table class=\"checks\">\n";
  out += Row({"Точка", "ex", "ey", "|e|", "dX", "dY", "|d|"}, "th");
  for (const CheckPointResult& p : checks.points) {
    const std::string name = p.id.empty() ? std::to_string(p.number) : XmlEscaped(p.id);
    const std::string dX = p.sceneKnown ? Fixed4(p.dX, s) : kNone;
    const std::string dY = p.sceneKnown ? Fixed4(p.dY, s) : kNone;
    const std::string d = p.sceneKnown ? Fixed4(std::hypot(p.dX, p.dY), s) : kNone;
    out +=
        Row({name, Fixed4(p.ex, s), Fixed4(p.ey, s), Fixed4(std::hypot(p.ex, p.ey), s), dX, dY, d});
  }
  out += "<tr class=\"rmse\"><th>СКП</th><th></th><th></th><th>" + SigmaText(checks.imageRmse, s) +
         "</th><th></th><th></th><th>" + SigmaText(checks.sceneRmse, s) + "</th></tr>\n";
  out +=
      "</table>\n<p>ex, ey, |e| — невязка на снимке, пикс.; dX, dY, |d| — промах в сцене, ед. "
      "сцены; в уравнивании эти точки не участвуют.</p>\n";
  return out;
}

}  // namespace

ReportContext ReportContextOf(const OrientationRequest& request) {
  ReportContext context;
  const auto add = [&](const char* role, const std::string& path) {
    context.inputs.push_back({role, path, IdentifyFile(path)});
  };
  add("Камера", request.cameraFile);
  if (DetectCameraFileFormat(request.cameraFile) == CameraFileFormat::CamFile)
    if (std::optional<std::string> table = CorrectionTablePath(request.cameraFile))
      add("Таблица поправок", *table);
  add("Точки изображения", request.imageFile);
  add("Точки сцены", request.sceneFile);
  context.sigmaCount = request.sigmaCount;
  context.imageSigma = request.imageSigma;
  context.known = request.known;
  context.version = kVersion;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
  context.time = text;
  return context;
}

std::vector<Figure> ReportFigureList(const Orientation& orientation) {
  std::vector<Figure> figures;
  for (std::optional<Figure> f :
       {ResidualFigure(orientation), PlanFigure(orientation), SideFigure(orientation)})
    if (f) figures.push_back(std::move(*f));
  return figures;
}

std::string ReportHtml(const Orientation& o, const ReportContext& context, ReportFigures how) {
  const char s = o.decimalSeparator;
  const ResultPrecision& p = o.precision;
  // Qt's rich text overflows side-by-side columns: the PDF runs them one after the other.
  const bool browser = how == ReportFigures::kInlineSvg;
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>Отчёт об ориентации камеры</title>\n";
  out += kStyle;
  out += "</head>\n<body>\n<h1>Отчёт об ориентации камеры</h1>\n";
  out += "<p>ZELV " + XmlEscaped(context.version) + " · " + XmlEscaped(context.time) + "</p>\n";

  out += "<h2>Исходные данные</h2>\n<table>\n";
  out += Row({"<span class=\"t\">Файл</span>", "Назначение", "Размер, байт", "SHA-256"}, "th");
  for (const ReportInput& input : context.inputs)
    out += "<tr><td class=\"t\">" + XmlEscaped(input.path) + "</td><td class=\"t\">" +
           XmlEscaped(input.role) + "</td><td>" +
           (input.identity ? std::to_string(input.identity->size) : std::string("не прочитан")) +
           "</td><td class=\"t hash\">" + (input.identity ? input.identity->sha256 : kNone) +
           "</td></tr>\n";
  out += "</table>\n";
  if (o.spatial)
    out +=
        "<p>Сцена пространственная (не все точки сцены на плоскости Z = 0): точка визирования — "
        "пересечение оптической оси с плоскостью Z = 0.</p>\n";

  out += browser ? kColumnsOpen : "";
  out += "<h2>Камера</h2>\n" + CameraSection(o) + (browser ? kColumnsNext : "");
  out += "<h2>Уровень и настройки</h2>\n<table>\n";
  out += Row({"Уровень оценки", LevelText(o.level)});
  out += Row({"Отметка точек за",
              FormatGeneral(IsFinite(context.sigmaCount) ? context.sigmaCount : 0, s) + "σ"});
  out += Row({"Априорная σ координаты, пикс.", SigmaText(context.imageSigma, s)});
  if (const std::string known = KnownText(context.known, s); !known.empty())
    out += "<tr><td>Известные значения</td><td class=\"t\">" + known + "</td></tr>\n";
  // Control points in the fit, check points out of it.
  const std::size_t checks = o.checkPoints.points.size();
  const std::string control = o.residuals && o.residuals->points.size() >= checks
                                  ? std::to_string(o.residuals->points.size() - checks)
                                  : std::string(kNone);
  if (checks > 0)
    out += Row({"Опорных / контрольных точек", control + " / " + std::to_string(checks)});
  else
    out += Row({"Опорных точек", control});
  out += Row({"Целевая функция (сумма |ex| + |ey|), пикс.",
              o.values.costKnown ? Fixed4(o.values.cost, s) : std::string(kNone)});
  out += "</table>\n";
  out += browser ? kColumnsClose : "";

  // The 21 values on the left; the correlations, the residuals and the verdict on the right.
  out += browser ? kColumnsOpen : "";
  const bool intervals =
      p.known && p.redundancy > 0 && p.tQuantile95 > 0 && IsFinite(p.tQuantile95);
  out += "<h2>Результат</h2>\n<table>\n";
  out += Row({"", "Величина", "Значение", "σ", intervals ? "95 % интервал" : "95 % интервал (нет)"},
             "th");
  for (int i = 0; i < kResultCount; ++i) {
    const ResultDescription& d = kResults[static_cast<std::size_t>(i)];
    std::string name = d.fileComment;
    if (name.rfind(" ; ", 0) == 0) name.erase(0, 3);
    const double v = o.values.values[static_cast<std::size_t>(i)];
    const std::string value = !o.texts[static_cast<std::size_t>(i)].empty()
                                  ? o.texts[static_cast<std::size_t>(i)]
                                  : Fixed4(v, s);
    std::string sigma = kNone, interval = kNone;
    if (p.known) {
      const double sg = p.sigma[static_cast<std::size_t>(i)];
      sigma = SigmaText(sg, s);
      if (intervals && IsFinite(sg))
        interval = Fixed4(v - p.tQuantile95 * sg, s) + " … " + Fixed4(v + p.tQuantile95 * sg, s);
    }
    out += "<tr><td class=\"t\">" + XmlEscaped(d.label) + "</td><td class=\"t\">" +
           XmlEscaped(name) + "</td><td>" + value + "</td><td>" + sigma + "</td><td>" + interval +
           "</td></tr>\n";
  }
  out += "</table>\n";
  if (intervals)
    out += "<p>95 % интервалы: значение ± t·σ, t = " + Fixed(p.tQuantile95, 4, s) +
           " (Стьюдент, избыточных измерений: " + std::to_string(p.redundancy) + ").</p>\n";
  else
    out += "<p>σ и 95 % интервалы даёт строгая оценка (уровень 4) при избыточных измерениях.</p>\n";
  out += browser ? kColumnsNext : "";

  if (p.known && p.covariance) {
    const std::vector<std::string> rows = CorrelationRows(*p.covariance, 6, s);
    if (!rows.empty()) {
      out += "<h2>Корреляции параметров позы (наибольшие по модулю)</h2>\n<table>\n";
      out += Row({"Пара", "ρ"}, "th");
      for (const std::string& row : rows) out += row;
      out += "</table>\n";
      const auto& a = p.covariance->centreSemiAxes;
      out += "<p>95 % эллипсоид центра проекции: полуоси " + Fixed4(a[0], s) + ", " +
             Fixed4(a[1], s) + ", " + Fixed4(a[2], s) + " (единицы сцены).</p>\n";
    }
  }

  out += "<h2>Невязки</h2>\n";
  if (o.residuals) {
    out += "<p>" + XmlEscaped(ResidualSummaryText(*o.residuals, s)) + "</p>\n";
    const std::vector<PointResidual>& points = o.residuals->points;
    const auto table = [&](const std::vector<const PointResidual*>& rows, bool sortable) {
      std::string t = sortable ? "<table class=\"sortable\">\n<thead>" : "<table>\n<thead>";
      std::vector<std::string> heads;
      for (const char* column : kResidualColumns) heads.push_back(column);
      t += Row(heads, "th") + "</thead>\n<tbody>\n";
      for (const PointResidual* point : rows) {
        t += point->flagged ? "<tr class=\"flag\">" : "<tr>";
        const std::array<double, 7> numbers{point->x,  point->y,  point->X,     point->Y,
                                            point->ex, point->ey, point->length};
        for (int c = 0; c < kResidualColumnCount; ++c) {
          const bool finite = c == 0 || c == kResidualColumnCount - 1 ||
                              IsFinite(numbers[static_cast<std::size_t>(c - 1)]);
          t += "<td>" + (finite ? XmlEscaped(ResidualCell(*point, c, s)) : std::string(kNone)) +
               "</td>";
        }
        t += "</tr>\n";
      }
      return t + "</tbody></table>\n";
    };
    // On paper the page holds the largest residuals (flagged ones first); the whole table, which
    // sorts by a click on a heading, is on the screen.
    std::vector<const PointResidual*> largest;
    for (const PointResidual& point : points) largest.push_back(&point);
    std::stable_sort(largest.begin(), largest.end(),
                     [](const PointResidual* a, const PointResidual* b) {
                       if (a->flagged != b->flagged) return a->flagged;
                       return a->length > b->length;
                     });
    const bool cut = largest.size() > kPrintedResiduals;
    if (cut) largest.resize(kPrintedResiduals);
    const std::string printed =
        (cut ? "<p>Наибольшие невязки: " + std::to_string(kPrintedResiduals) + " из " +
                   std::to_string(points.size()) +
                   (how == ReportFigures::kInlineSvg
                        ? " (все точки — в HTML-отчёте на экране).</p>\n"
                        : " (все точки — в HTML-отчёте).</p>\n")
             : std::string()) +
        table(largest, false);
    if (how == ReportFigures::kInlineSvg && cut) {
      std::vector<const PointResidual*> all;
      for (const PointResidual& point : points) all.push_back(&point);
      out += "<div class=\"screen\">" + table(all, true) +
             "<p>Щелчок по заголовку столбца сортирует таблицу.</p></div>\n";
      out += "<div class=\"paper\">" + printed + "</div>\n";
    } else if (how == ReportFigures::kInlineSvg) {
      std::vector<const PointResidual*> all;
      for (const PointResidual& point : points) all.push_back(&point);
      out += table(all, true) +
             "<p class=\"screen\">Щелчок по заголовку столбца сортирует таблицу.</p>\n";
    } else {
      out += printed;
    }
  } else {
    out += "<p>Невязок нет: точка проецируется в бесконечность.</p>\n";
  }

  if (!o.checkPoints.points.empty()) out += CheckPointSection(o.checkPoints, s);

  out += "<h2>Предупреждения и заключение</h2>\n";
  if (o.warnings.empty()) out += "<p>Предупреждений нет.</p>\n";
  for (const Warning& w : o.warnings) out += "<p class=\"warn\">" + XmlEscaped(w.text) + "</p>\n";
  if (p.known) {
    for (const std::string& line : PrecisionLines(o))
      if (line.rfind("σ ", 0) != 0) out += "<p>" + XmlEscaped(line) + "</p>\n";
    out += std::string("<p class=\"verdict\">") +
           (p.verdict.suspect ? "Заключение: результат сомнителен."
                              : "Заключение: результат согласуется с заданной точностью.") +
           "</p>\n";
  } else {
    out += "<p class=\"verdict\">Заключение: оценка точности не выполнялась (уровень " +
           std::to_string(o.level) + "); для σ и проверки результата выберите уровень 4.</p>\n";
  }
  out += browser ? kColumnsClose : "";
  const std::vector<Figure> figures = ReportFigureList(o);
  if (!figures.empty()) {
    out += "<h2>Рисунки</h2>\n<table class=\"layout\"><tr>";
    for (std::size_t i = 0; i < figures.size(); ++i)
      out += "<td class=\"t\">" + FigureBlock(figures[i], static_cast<int>(i), how) + "</td>";
    out += "</tr></table>\n";
  }

  out += "<p>Подпись: ____________________ &nbsp; Дата: ______________</p>\n";
  if (how == ReportFigures::kInlineSvg) out += kSortScript;
  out += "</body>\n</html>\n";
  return out;
}

std::string ReportNameFor(const std::string& imageFile, const std::string& extension) {
  std::string stem = std::filesystem::path(imageFile).stem().string();
  if (stem.empty()) stem = "report";
  return stem + extension;
}

Expected<void> WriteReportHtml(const std::string& path, const Orientation& orientation,
                               const ReportContext& context) {
  try {
    ReplaceFile(path, ReportHtml(orientation, context));
  } catch (const ZelvError& error) {
    return Failure{std::string("Ошибка записи отчёта!\n") + error.what(), "Ошибка!",
                   MessageIcon::Stop};
  }
  return Success();
}

}  // namespace zelv
