#pragma once
// The report's figures (app/report_figure.h) painted with QPainter: for the PDF, the window's
// "Схема" view and the PNG export.

#include <QImage>
#include <QPainter>
#include <QString>

#include "app/report_figure.h"

namespace zelv {

// Paints `figure` with its top left at the painter's origin, in the painter's units (one unit
// per point of the figure).
void PaintFigure(QPainter& painter, const Figure& figure);

// The figure as an image `scale` pixels per point, on white.
QImage FigureImage(const Figure& figure, double scale);

}  // namespace zelv
