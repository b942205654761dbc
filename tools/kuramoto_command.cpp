// `kaldro kuramoto`: a run of all-to-all coupled phase oscillators, printing how their
// phase coherence grows over time and, with --svg, plotting it.
#include "tool.h"

#if KALDRO_TOOL_HAS_KURAMOTO

#include <string>

namespace tool {

double phase_coherence(const double *theta, std::size_t n) {
  if (n == 0) return 0.0;
  double c = 0.0, s = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    double ci = 0.0, si = 0.0;
    kaldro_cos(&ci, theta[i]);
    kaldro_sin(&si, theta[i]);
    c += ci;
    s += si;
  }
  double r = 0.0;
  kaldro_rational_sqrt(&r, c * c + s * s);
  return r / double(n);
}

namespace {

constexpr double kTwoPi = 6.283185307179586;

std::string coherence_svg(const std::vector<double> &r, double dt, double coupling) {
  const double w = 800, h = 400, left = 60, right = 20, top = 40, bottom = 40;
  std::string s;
  char line[512];
  std::snprintf(line, sizeof line,
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                "viewBox=\"0 0 %.0f %.0f\">\n<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n"
                "<text x=\"%.0f\" y=\"25\" font-family=\"sans-serif\" font-size=\"16\">phase "
                "coherence r over time (K = %g, dt = %g)</text>\n",
                w, h, w, h, left, coupling, dt);
  s += line;
  const double x0 = left, x1 = w - right, y0 = h - bottom, y1 = top;
  for (int k = 0; k <= 4; ++k) {
    const double y = y0 + (y1 - y0) * k / 4.0;
    std::snprintf(line, sizeof line,
                  "<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\" stroke=\"#dddddd\"/>\n"
                  "<text x=\"%.0f\" y=\"%.1f\" font-family=\"sans-serif\" font-size=\"11\" "
                  "text-anchor=\"end\">%.2f</text>\n",
                  x0, y, x1, y, x0 - 6, y + 4, k / 4.0);
    s += line;
  }
  std::snprintf(line, sizeof line,
                "<text x=\"%.0f\" y=\"%.0f\" font-family=\"sans-serif\" font-size=\"11\" "
                "text-anchor=\"end\">t = %g</text>\n",
                x1, h - 12, dt * double(r.size() ? r.size() - 1 : 0));
  s += line;
  s += "<polyline fill=\"none\" stroke=\"#1f77b4\" stroke-width=\"2\" points=\"";
  const std::size_t steps = r.size() > 1 ? r.size() - 1 : 1;
  for (std::size_t i = 0; i < r.size(); ++i) {
    std::snprintf(line, sizeof line, "%s%.1f,%.1f", i ? " " : "",
                  x0 + (x1 - x0) * double(i) / double(steps), y0 + (y1 - y0) * r[i]);
    s += line;
  }
  s += "\"/>\n</svg>\n";
  return s;
}

int run_kuramoto(int argc, char **argv) {
  const char *cmd = "kuramoto";
  Args args(argc, argv, {}, {"-n", "--steps", "--coupling", "--dt", "--spread", "--every", "--svg"});
  if (!args.ok()) return usage_error(cmd, args.error());
  if (!args.positional().empty()) return usage_error(cmd, "takes no positional arguments");
  uint64_t n = 64, steps = 400, every = 0;
  double coupling = 2.0, dt = 0.05, spread = 0.5;
  if (args.value("-n") && (!parse_u64(args.value("-n"), n) || n == 0 || n > 20000))
    return usage_error(cmd, "-n needs an oscillator count from 1 to 20000");
  if (args.value("--steps") && (!parse_u64(args.value("--steps"), steps) || steps > 10000000))
    return usage_error(cmd, "--steps needs a number up to 10000000");
  if (args.value("--every") && (!parse_u64(args.value("--every"), every) || every == 0))
    return usage_error(cmd, "--every needs a positive number");
  if (args.value("--coupling") && !parse_double(args.value("--coupling"), coupling))
    return usage_error(cmd, "--coupling needs a number");
  if (args.value("--dt") && (!parse_double(args.value("--dt"), dt) || dt <= 0))
    return usage_error(cmd, "--dt needs a positive number");
  if (args.value("--spread") && (!parse_double(args.value("--spread"), spread) || spread < 0))
    return usage_error(cmd, "--spread needs a number of at least 0");
  if (every == 0) every = steps >= 10 ? steps / 10 : 1;

  // Start phases spread over the circle by the golden ratio; natural frequencies
  // evenly spaced in [-spread, spread].
  std::vector<double> theta(n), omega(n), next(n), r;
  for (uint64_t i = 0; i < n; ++i) {
    double f = double(i) * 0.6180339887498949;
    f -= double(uint64_t(f));
    theta[i] = kTwoPi * f;
    omega[i] = n > 1 ? spread * (2.0 * double(i) / double(n - 1) - 1.0) : 0.0;
  }
  std::printf("%llu oscillators, coupling %g, frequencies in [-%g, %g], dt %g\n",
              (unsigned long long)n, coupling, spread, spread, dt);
  std::printf("%-10s %-12s %s\n", "step", "time", "coherence");
  r.push_back(phase_coherence(theta.data(), n));
  std::printf("%-10d %-12g %.6f\n", 0, 0.0, r.back());
  for (uint64_t step = 1; step <= steps; ++step) {
    const kaldro_status st =
        kaldro_cascade_kuramoto_step_f64(theta.data(), omega.data(), n, next.data(), coupling, dt);
    if (st != KALDRO_OK) return fail(cmd, "a step failed", st);
    theta.swap(next);
    r.push_back(phase_coherence(theta.data(), n));
    if (step % every == 0 || step == steps)
      std::printf("%-10llu %-12g %.6f\n", (unsigned long long)step, double(step) * dt, r.back());
  }
  if (const char *svg = args.value("--svg")) {
    const std::string doc = coherence_svg(r, dt, coupling);
    std::string error;
    if (!write_file(svg, doc.data(), doc.size(), error))
      return fail_plain(cmd, std::string("cannot write '") + svg + "': " + error);
  }
  return kExitOk;
}

}  // namespace

const Command kKuramotoCommand = {
    "kuramoto", "phase coherence of coupled oscillators over time",
    "usage: kaldro kuramoto [-n N] [--steps S] [--coupling K] [--dt DT] [--spread W]\n"
    "                       [--every E] [--svg FILE]\n"
    "\n"
    "Runs N all-to-all coupled phase oscillators (classic Kuramoto model, explicit Euler\n"
    "steps) from phases spread over the circle, with natural frequencies evenly spaced\n"
    "in [-W, W], and prints the phase coherence r (0: incoherent, 1: in step) every E\n"
    "steps.\n"
    "\n"
    "  -n N                 number of oscillators (default 64)\n"
    "  --steps S            number of steps (default 400)\n"
    "  --coupling K         coupling strength (default 2)\n"
    "  --dt DT              step length (default 0.05)\n"
    "  --spread W           half-width of the frequency range (default 0.5)\n"
    "  --every E            print every E steps (default a tenth of the run)\n"
    "  --svg FILE           plot the coherence over time\n",
    run_kuramoto, nullptr, 0};

}  // namespace tool

#endif
