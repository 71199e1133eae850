#include "cli/calibration_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/report_figure.h"

namespace zelv::cli {

namespace {

std::string Fixed(double value, int digits) {
  if (!std::isfinite(value)) return "–";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

std::string General(double value) {
  if (!std::isfinite(value)) return "–";
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

// Green for the least value through yellow to red for the largest.
FigureColour Heat(double fraction) {
  fraction = std::clamp(fraction, 0.0, 1.0);
  return {static_cast<int>(std::lround(255 * std::min(1.0, 2 * fraction))),
          static_cast<int>(std::lround(255 * std::min(1.0, 2 * (1 - fraction)))), 0};
}

// The map over the image's frame, 480 points wide, each cell a rectangle of its colour with its
// value written in it.
Figure MapFigure(const ImageGridMap& map, const std::string& title, const std::string& unit,
                 bool coverage) {
  Figure figure;
  figure.title = title;
  const double width = 480;
  const double scale = map.width > 0 ? width / map.width : 1;
  figure.width = width;
  figure.height = map.height * scale + 24;
  const double cellWidth = width / std::max(map.columns, 1);
  const double cellHeight = map.height * scale / std::max(map.rows, 1);
  double low = 0, high = 0;
  if (!map.values.empty()) {
    low = *std::min_element(map.values.begin(), map.values.end());
    high = *std::max_element(map.values.begin(), map.values.end());
  }
  for (int r = 0; r < map.rows; ++r)
    for (int c = 0; c < map.columns; ++c) {
      const double value = map.At(c, r);
      FigureShape cell;
      cell.kind = FigureShape::Kind::kRectangle;
      cell.x1 = c * cellWidth;
      cell.y1 = r * cellHeight;
      cell.x2 = cell.x1 + cellWidth;
      cell.y2 = cell.y1 + cellHeight;
      if (coverage)
        cell.fill = value <= 0 ? FigureColour{230, 40, 40}
                               : FigureColour{static_cast<int>(200 - 170 * value / high),
                                              static_cast<int>(220 - 140 * value / high), 255};
      else
        cell.fill = Heat(high > low ? (value - low) / (high - low) : 0);
      cell.stroke = {255, 255, 255};
      cell.width = 0.5;
      figure.shapes.push_back(cell);
      FigureShape label;
      label.kind = FigureShape::Kind::kText;
      label.cx = cell.x1 + cellWidth / 2;
      label.cy = cell.y1 + cellHeight / 2 + 3;
      label.text = coverage ? Fixed(value, 0) : General(value);
      label.fontSize = std::min(8.0, cellWidth / 4);
      figure.shapes.push_back(label);
    }
  FigureShape legend;
  legend.kind = FigureShape::Kind::kText;
  legend.align = -1;
  legend.cx = 0;
  legend.cy = figure.height - 6;
  legend.fontSize = 11;
  legend.text = coverage ? "углов в клетке: от 0 (красный — углы не попали) до " + Fixed(high, 0)
                         : "от " + General(low) + " " + unit + " (зелёный) до " + General(high) +
                               " " + unit + " (красный)";
  figure.shapes.push_back(legend);
  figure.caption = title;
  return figure;
}

std::string Row(const std::vector<std::string>& cells, const char* tag = "td") {
  std::string row = "<tr>";
  for (const std::string& cell : cells)
    row += std::string("<") + tag + ">" + XmlEscaped(cell) + "</" + tag + ">";
  return row + "</tr>\n";
}

}  // namespace

std::string CalibrationReportHtml(const CalibrationRun& run, const PhotographViews& photographs,
                                  CalibrationModel model,
                                  const std::vector<std::string>& warnings) {
  const CalibrationResult& c = run.calibration;
  auto viewName = [&](int view) {
    return view >= 0 && view < static_cast<int>(photographs.views.size())
               ? photographs.views[view].name
               : std::to_string(view + 1);
  };
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>Калибровка камеры</title>\n<style>\n"
      "body { font-family: sans-serif; margin: 2em; }\n"
      "table { border-collapse: collapse; margin-bottom: 1.5em; }\n"
      "td, th { border: 1px solid #bbb; padding: 0.2em 0.6em; text-align: left; }\n"
      ".warning { color: #b00; }\n figure { display: inline-block; margin: 0 1em 1em 0; }\n"
      "</style>\n</head>\n<body>\n<h1>Калибровка камеры</h1>\n";
  html += "<table>\n";
  html += Row({"Модель объектива", CalibrationModelName(model)});
  html += Row({"Размер снимка, пкс", std::to_string(photographs.imageWidth) + " × " +
                                         std::to_string(photographs.imageHeight)});
  html += Row({"Видов в расчёте",
               std::to_string(std::count_if(c.views.begin(), c.views.end(),
                                            [](const ViewResult& v) { return v.used; })) +
                   " из " + std::to_string(c.views.size())});
  html += Row({"Углов в расчёте", std::to_string(c.cornersUsed)});
  html += Row({"СКО невязок, пкс", Fixed(c.rms, 4)});
  html += Row({"σ0, пкс", Fixed(c.sigma0, 4)});
  html += Row({"Не покрыто углами, % кадра", Fixed(run.uncoveredShare * 100, 1)});
  if (!run.uncertainty.values.empty())
    html += Row({"Неопределённость проекции (1σ), пкс",
                 "медиана " + Fixed(run.uncertaintyMedian, 4) + ", наибольшая " +
                     Fixed(run.uncertaintyWorst, 4)});
  if (run.crossValidation)
    html += Row({"Перекрёстная проверка: медиана отношения расхождения к предсказанному",
                 Fixed(run.crossValidation->medianRatio, 2)});
  html += "</table>\n";
  for (const std::string& warning : warnings)
    html += "<p class=\"warning\">" + XmlEscaped(warning) + "</p>\n";

  html += "<h2>Параметры камеры</h2>\n<table>\n" + Row({"Параметр", "Значение", "σ"}, "th");
  for (size_t i = 0; i < c.parameterNames.size(); ++i)
    html += Row({c.parameterNames[i], General(i < run.values.size() ? run.values[i] : 0),
                 General(i < c.sigmas.size() ? c.sigmas[i] : 0)});
  html += "</table>\n";

  html += "<h2>Виды</h2>\n<table>\n" + Row({"Снимок", "Углов", "СКО, пкс", "В расчёте"}, "th");
  for (size_t i = 0; i < photographs.views.size(); ++i) {
    const bool known = i < c.views.size();
    html += Row({photographs.views[i].name, std::to_string(photographs.views[i].ids.size()),
                 known ? Fixed(c.views[i].rms, 3) : "–", known && c.views[i].used ? "да" : "нет"});
  }
  html += "</table>\n";
  if (!photographs.skipped.empty() || !c.rejectedViews.empty() || !c.rejectedCorners.empty()) {
    html += "<h2>Исключено</h2>\n<table>\n" + Row({"Снимок", "Что", "Причина"}, "th");
    for (const SkippedPhotograph& s : photographs.skipped)
      html += Row({s.path, "снимок", s.reason});
    for (const RejectedView& r : c.rejectedViews)
      html += Row({viewName(r.view), "вид, СКО " + Fixed(r.rms, 3) + " пкс", r.reason});
    for (const RejectedCorner& r : c.rejectedCorners)
      html += Row({viewName(r.view), "угол " + std::to_string(r.id),
                   "невязка " + Fixed(r.residual, 3) + " пкс"});
    html += "</table>\n";
  }

  html += "<h2>Карты по кадру</h2>\n";
  auto addMap = [&](const ImageGridMap& map, const std::string& title, bool coverage) {
    if (map.values.empty() || map.columns <= 0 || map.rows <= 0) return;
    html += "<figure>" + FigureSvg(MapFigure(map, title, "пкс", coverage)) + "<figcaption>" +
            XmlEscaped(title) + "</figcaption></figure>\n";
  };
  addMap(run.uncertainty, "Неопределённость проекции (1σ), пкс", false);
  addMap(run.coverage, "Покрытие кадра углами мишени", true);
  if (run.crossValidation)
    addMap(run.crossValidation->difference, "Расхождение калибровок двух половин снимков, пкс",
           false);
  html += "</body>\n</html>\n";
  return html;
}

}  // namespace zelv::cli
