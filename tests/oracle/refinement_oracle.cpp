#include "oracle/refinement_oracle.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/number_text.h"
#include "base/zelv_error.h"

namespace zelv::oracle {
namespace {

struct IterationSteps {
  double al = 0, bet = 0, hi = 0, distance = 0, distanceFinal = 0;
};

const double kShrinkPercent[3] = {70, 85, 99};
const double kStepFactor[3] = {1, 0.3, 0.09};

// The line search; `moves` counts the steps of the whole outer iteration.
void SearchParameter(PoseParameters& p, double PoseParameters::*member, MoveFunction move,
                     double startStep, double finalOffset, double shrinkPercent,
                     const RefinementCostModel& cost, long& moves) {
  double& v = p.*member;
  double s = startStep;
  long walk = 0;  // moves at the same step since it last changed or the walk was last checked
  double walkStart = 0;
  while (s > finalOffset) {
    if (++moves > kMaxMovesPerIteration) throw ZelvError("the refinement does not settle");
    const double c0 = cost.Cost(p);
    v = move(v, -s);
    const double cMinus = cost.Cost(p);
    v = move(v, 2 * s);
    const double cPlus = cost.Cost(p);
    // Every kWalkWindow moves at one step must lower the cost by kLeastWalkFall of it.
    if (walk == 0) {
      walkStart = c0;
    } else if (walk == kWalkWindow) {
      if (!(walkStart - c0 >= kLeastWalkFall * c0))
        throw ZelvError("the refinement walks without settling");
      walk = 0;
      walkStart = c0;
    }
    ++walk;
    if (cPlus >= c0 && cMinus >= c0) {
      v = move(v, -s);
      s = s * shrinkPercent * 0.01;
      walk = 0;
    } else if (cPlus > c0 && cMinus < c0) {
      v = move(v, -2 * s);
    } else if (cPlus < c0 && cMinus < c0 && cPlus > cMinus) {
      v = move(v, -2 * s);
    }
  }
}

TResStruct RunOuterIteration(const PoseParameters& start, const IterationSteps& steps,
                             const RefinementSettings& settings, const RefinementCostModel& cost,
                             const std::function<void()>& progress, std::vector<std::string>* log,
                             char sep, long& moves) {
  PoseParameters p = start;
  double cLast = 0;
  for (int w = 0; w < 3; ++w) {
    const double k = kShrinkPercent[w];
    const double factor = kStepFactor[w];
    const struct {
      double PoseParameters::*member;
      MoveFunction move;
      const char* heading;
      double startStep, finalOffset;
    } order[4] = {
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
        SearchParameter(p, item.member, item.move, item.startStep, item.finalOffset, k, cost,
                        moves);
        cLast = cost.Cost(p);
        if (cLast < best) best = cLast;
        if (log) log->push_back(RefinementValueLine(p, cLast, sep));
      }
      if (previous > 0 && std::fabs(best - previous) < 0.0001) ++stale;
      previous = best;
      ++round;
      if (best == 0) break;
    }
  }
  return {p.Al, p.Bet, p.Hi, p.L, cLast};
}

// The start steps of outer iteration j (1-based) as Refine sets them.
IterationSteps StepsOf(int j, int level, const RefinementSettings& settings, double L) {
  IterationSteps steps;
  double lStart = settings.LStart;
  steps.al = settings.AlStart;
  steps.bet = settings.BetStart;
  steps.hi = settings.HiStart;
  if (level == 3) {
    lStart = j;
    steps.al = steps.bet = steps.hi = j * std::numbers::pi * 0.005555555555555556;
  }
  steps.distance = L * lStart * 0.01;
  steps.distanceFinal = L * settings.LMin * 0.01;
  return steps;
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
  return Finite(cost, "overflow in the refinement cost");
}

void Refine(double& Al, double& Bet, double& Hi, double& Distance, RefinementContext& context,
            long* largestMoves) {
  if (context.cost == nullptr || context.settings == nullptr)
    throw ZelvError("the refinement has no cost or settings");
  const RefinementCostModel& cost = *context.cost;
  RefinementSettings& settings = *context.settings;
  const char sep = context.decimalSeparator;
  const int level = settings.EstimateLevel;
  const bool keepLog = settings.KeepLog;
  const PoseParameters given{Al, Bet, Hi, Distance};
  const int iterations = level == 1 ? 1 : 30;

  // A final offset not above 0 is refused when its search would run: the step would never get
  // down to it.
  for (int j = 1; j <= iterations; ++j) {
    const IterationSteps steps = StepsOf(j, level, settings, given.L);
    for (double factor : kStepFactor) {
      const double start[4] = {factor * steps.bet, factor * steps.al, factor * steps.distance,
                               factor * steps.hi};
      const double final[4] = {settings.BetMin, settings.AlMin, steps.distanceFinal,
                               settings.HiMin};
      for (int i = 0; i < 4; ++i)
        if (start[i] > final[i] && !(final[i] > 0))
          throw ZelvError("the final offset of the refinement must be above 0");
    }
  }

  std::vector<std::string> log;
  const double cInit = cost.Cost(given);
  if (keepLog) {
    log.push_back("Начальное приближение:");
    log.push_back(RefinementValueLine(given, cInit, sep));
  }

  std::vector<TResStruct> results;
  long mostMoves = 0;
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
    long moves = 0;
    const TResStruct outcome =
        RunOuterIteration(given, StepsOf(j, level, settings, given.L), settings, cost,
                          context.progress, keepLog && level == 1 ? &log : nullptr, sep, moves);
    mostMoves = std::max(mostMoves, moves);
    if (keepLog && level == 3)
      log.push_back(
          RefinementValueLine({outcome.Al, outcome.Bet, outcome.Hi, outcome.L}, outcome.Cost, sep));
    results.push_back(outcome);
  }
  if (largestMoves) *largestMoves = mostMoves;

  const TResStruct* choice = &ChooseResult(results);

  if (keepLog) {
    AppendRefinementSummary(log, *choice, settings, sep,
                            std::chrono::system_clock::now() - context.startTime);
    if (context.writeLog) context.writeLog(log);
  }

  Al = choice->Al;
  Bet = choice->Bet;
  Hi = choice->Hi;
  Distance = choice->L;
}

double LargestPointDistance(const VT_Points& points) {
  double largest = 0;
  const std::int32_t n = points.Count();
  for (std::int32_t i = 0; i < n; ++i) {
    const VT_Point& a = *points.Get(i);
    for (std::int32_t j = i; j < n; ++j) {
      const VT_Point& b = *points.Get(j);
      const double dx = a.x - b.x;
      const double dy = a.y - b.y;
      const double d = std::sqrt(dx * dx + dy * dy);
      if (d > largest) largest = d;
    }
  }
  return largest;
}

bool CheckPointSpread(const VT_Points& points, double imageWidth, double imageHeight) {
  const double diagonal = std::sqrt(imageWidth * imageWidth + imageHeight * imageHeight);
  return 0.5 * diagonal <= LargestPointDistance(points);
}

}  // namespace zelv::oracle
