#include "solver/refinement.h"

#include <cmath>
#include <ctime>
#include <numbers>

#include "files/number_text.h"
#include "files/text_file.h"
#include "points/zelv_error.h"

namespace zelv {
namespace {

// Bounds that keep a degenerate input from running the search for ever. A line search that
// converges takes a few thousand steps, a pass a few dozen rounds.
constexpr long kMaxLineSearchSteps = 1000000;
constexpr int kMaxRoundsPerPass = 100000;

// One of the four parameters as the rounds of a pass visit it.
struct ParameterSearch {
  double PoseParameters::*member;
  MoveFunction move;
  const char* heading;  // the log line before its search
  double startStep;     // this pass's start step
  double finalOffset;
};

// The start steps of one outer iteration (radians; scene units for the distance) and the final
// offset of the distance (scene units).
struct IterationSteps {
  double al = 0, bet = 0, hi = 0, distance = 0, distanceFinal = 0;
};

const double kShrinkPercent[3] = {70, 85, 99};
const double kStepFactor[3] = {1, 0.3, 0.09};  // 0.3 to the power of the pass index

// One outer iteration: three passes of rounds over Bet, Al, the distance and Hi. Writes the pass,
// round, heading and value lines to `log` when it is not null. Returns where it ended and the
// cost there.
TResStruct RunOuterIteration(const PoseParameters& start, const IterationSteps& steps,
                             const RefinementSettings& settings, const RefinementCostModel& cost,
                             const std::function<void()>& progress, std::vector<std::string>* log,
                             char decimalSeparator) {
  PoseParameters p = start;
  double cLast = 0;
  for (int w = 0; w < 3; ++w) {
    const double k = kShrinkPercent[w];
    const double factor = kStepFactor[w];
    const ParameterSearch order[4] = {
        {&PoseParameters::Bet, WrapTilt,
         "Уточнение решения по углу поворота сцены вокруг орбитальной оси", factor * steps.bet,
         settings.BetMin},
        {&PoseParameters::Al, WrapTilt,
         "Уточнение решения по углу поворота сцены вокруг поперечной оси", factor * steps.al,
         settings.AlMin},
        {&PoseParameters::L, MoveDistance, "Уточнение решения по расстоянию",
         factor * steps.distance, steps.distanceFinal},
        {&PoseParameters::Hi, WrapTurn, "Уточнение решения по углу поворота изображения",
         factor * steps.hi, settings.HiMin},
    };
    if (log)
      log->push_back(std::to_string(w + 1) + "-й проход. " + std::to_string(static_cast<int>(k)) +
                     "%.");
    double best = 1000000000000000.0;
    double previous = 0;
    int stale = 0;
    int round = 0;
    while (stale <= 3) {
      if (log) log->push_back("Номер итерации - " + std::to_string(round + 1));
      if (progress) progress();
      for (const auto& item : order) {
        if (log) log->push_back(item.heading);
        SearchParameter(p, item.member, item.move, item.startStep, item.finalOffset, k, cost);
        cLast = cost.Cost(p);
        if (cLast < best) best = cLast;
        if (log) log->push_back(RefinementValueLine(p, cLast, decimalSeparator));
      }
      if (previous > 0 && std::fabs(best - previous) < 0.0001) ++stale;
      previous = best;
      ++round;
      // A perfect fit cannot improve: without this the pass would never count a stale round.
      if (best == 0) break;
      if (round >= kMaxRoundsPerPass) throw ZelvError("the refinement does not settle");
    }
  }
  return {p.Al, p.Bet, p.Hi, p.L, cLast};
}

void RequirePositive(double finalOffset) {
  // A final offset not above 0 would let the step shrink towards 0 without ever ending.
  if (!(finalOffset > 0)) throw ZelvError("the final offset of the refinement must be above 0");
}

}  // namespace

double RefinementCost(const VT_Points& imagePoints, const VT_Points& scenePoints, double Al,
                      double Bet, double Hi, double F, double L) {
  const double sa = std::sin(Al), ca = std::cos(Al);
  const double sb = std::sin(Bet), cb = std::cos(Bet);
  const double sc = std::sin(Hi), cc = std::cos(Hi);
  double cost = 0;
  for (std::int32_t i = 0; i < imagePoints.Count(); ++i) {
    const double x = imagePoints.Get(i)->x;
    const double y = imagePoints.Get(i)->y;
    const double X = scenePoints.Get(i)->x;
    const double Y = scenePoints.Get(i)->y;
    const double D = Finite(sa * X + L - ca * sb * Y, "overflow in the projection");
    if (D == 0) throw ZelvError("division by zero in the projection");
    const double ex = x - F * (ca * cc * X + (sa * sb * cc - cb * sc) * Y) / D;
    const double ey = y - F * (ca * sc * X + (cb * cc + sa * sb * sc) * Y) / D;
    cost = cost + (std::fabs(ex) + std::fabs(ey));
  }
  // An overflow in any term leaves the sum infinite or invalid.
  return Finite(cost, "overflow in the refinement cost");
}

double WrapTilt(double value, double offset) {
  double v = value + offset;
  if (v < -kTiltBound) v = -2 * kTiltBound - v;
  if (v > kTiltBound) v = 2 * kTiltBound - v;
  return v;
}

double WrapTurn(double value, double offset) {
  double v = value + offset;
  if (v < -std::numbers::pi) v = v + std::numbers::pi;
  if (v > std::numbers::pi) v = v - std::numbers::pi;
  return v;
}

double MoveDistance(double value, double offset) { return value + offset; }

void SearchParameter(PoseParameters& p, double PoseParameters::*member, MoveFunction move,
                     double startStep, double finalOffset, double shrinkPercent,
                     const RefinementCostModel& cost) {
  double& v = p.*member;
  double s = startStep;
  long steps = 0;
  while (s > finalOffset) {
    if (++steps > kMaxLineSearchSteps) throw ZelvError("the line search does not settle");
    const double c0 = cost.Cost(p);
    v = move(v, -s);
    const double cMinus = cost.Cost(p);
    v = move(v, 2 * s);
    const double cPlus = cost.Cost(p);
    if (cPlus >= c0 && cMinus >= c0) {
      v = move(v, -s);
      s = s * shrinkPercent * 0.01;
    } else if (cPlus > c0 && cMinus < c0) {
      v = move(v, -2 * s);
    } else if (cPlus < c0 && cMinus < c0 && cPlus > cMinus) {
      v = move(v, -2 * s);
    }
    // Otherwise the upper probe is kept with the same step.
  }
}

std::string RefinementValueLine(const PoseParameters& p, double cost, char decimalSeparator) {
  const char* const kSeparator = "  ;  ";
  return FormatFixed4(ToDegrees(p.Al), decimalSeparator) + kSeparator +
         FormatFixed4(ToDegrees(p.Bet), decimalSeparator) + kSeparator +
         FormatFixed4(ToDegrees(p.Hi), decimalSeparator) + kSeparator +
         FormatFixed4(p.L, decimalSeparator) + kSeparator + FormatFixed4(cost, decimalSeparator);
}

std::string ComputationTimeLine(std::chrono::system_clock::duration elapsed) {
  long long seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  if (seconds < 0) seconds = 0;
  std::tm t{};
  t.tm_hour = static_cast<int>(seconds / 3600);
  t.tm_min = static_cast<int>(seconds / 60 % 60);
  t.tm_sec = static_cast<int>(seconds % 60);
  char text[64] = {};
  std::strftime(text, sizeof text, "%X", &t);
  return std::string("Время счета: ") + text;
}

const TResStruct& ChooseResult(const std::vector<TResStruct>& results) {
  double threshold = results.back().Cost + 1;
  const TResStruct* choice = nullptr;
  for (const TResStruct& r : results) {
    if (r.Cost < threshold) {
      choice = &r;
      threshold = r.Cost;
    }
  }
  if (choice == nullptr) {
    choice = &results.front();
    for (const TResStruct& r : results)
      if (r.Cost < choice->Cost) choice = &r;
  }
  return *choice;
}

void Refine(double& Al, double& Bet, double& Hi, double& Distance, RefinementContext& context) {
  if (context.cost == nullptr || context.settings == nullptr)
    throw ZelvError("the refinement has no cost or settings");
  const RefinementCostModel& cost = *context.cost;
  RefinementSettings& settings = *context.settings;
  const char sep = context.decimalSeparator;
  const int level = settings.EstimateLevel;
  const bool keepLog = settings.KeepLog;

  const PoseParameters given{Al, Bet, Hi, Distance};
  RequirePositive(settings.AlMin);
  RequirePositive(settings.BetMin);
  RequirePositive(settings.HiMin);
  RequirePositive(given.L * settings.LMin * 0.01);

  std::vector<std::string> log;
  const double cInit = cost.Cost(given);
  if (keepLog) {
    log.push_back("Начальное приближение:");
    log.push_back(RefinementValueLine(given, cInit, sep));
  }

  std::vector<TResStruct> results;
  const int iterations = level == 1 ? 1 : 30;
  for (int j = 1; j <= iterations; ++j) {
    if (keepLog && level == 3)
      log.push_back("Номер итерации по начальным шагам - " + std::to_string(j));
    if (level == 3) {
      settings.LStart = j;
      const double degrees = j * std::numbers::pi * 0.005555555555555556;
      settings.AlStart = degrees;
      settings.BetStart = degrees;
      settings.HiStart = degrees;
    }
    IterationSteps steps;
    steps.al = settings.AlStart;
    steps.bet = settings.BetStart;
    steps.hi = settings.HiStart;
    steps.distance = given.L * settings.LStart * 0.01;
    steps.distanceFinal = given.L * settings.LMin * 0.01;
    const TResStruct outcome = RunOuterIteration(given, steps, settings, cost, context.progress,
                                                 keepLog && level == 1 ? &log : nullptr, sep);
    if (keepLog && level == 3)
      log.push_back(
          RefinementValueLine({outcome.Al, outcome.Bet, outcome.Hi, outcome.L}, outcome.Cost, sep));
    results.push_back(outcome);
  }

  const TResStruct* choice = &ChooseResult(results);

  if (keepLog) {
    log.push_back("");
    log.push_back("Результат уточнения:");
    log.push_back(
        RefinementValueLine({choice->Al, choice->Bet, choice->Hi, choice->L}, choice->Cost, sep));
    log.push_back("");
    log.push_back("Параметры счета:");
    const struct {
      const char* title;
      double start, final;
    } angles[3] = {{"Поворот вокруг поперечной оси:", settings.AlStart, settings.AlMin},
                   {"Поворот вокруг орбитальной оси:", settings.BetStart, settings.BetMin},
                   {"Поворот вокруг оптической оси:", settings.HiStart, settings.HiMin}};
    for (const auto& a : angles) {
      log.push_back(a.title);
      log.push_back("  Начальное смещение:" + FormatFixed4(ToDegrees(a.start), sep));
      log.push_back("  Конечное смещение:" + FormatGeneral(ToDegrees(a.final), sep));
    }
    log.push_back("Расстояние:");
    log.push_back("  Начальное смещение:" + FormatFixed4(settings.LStart, sep));
    log.push_back("  Конечное смещение:" + FormatGeneral(settings.LMin, sep));
    log.push_back("Количество итераций:" + std::to_string(settings.IterCount));
    log.push_back(ComputationTimeLine(std::chrono::system_clock::now() - context.startTime));
    SaveTextLines(context.logPath, log);
  }

  Al = choice->Al;
  Bet = choice->Bet;
  Hi = choice->Hi;
  Distance = choice->L;
}

}  // namespace zelv
