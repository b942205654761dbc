// `kaldro fiedler`: the spectral bisection of a graph stored as an edge file, printed per
// vertex and, with --svg, drawn with each vertex coloured by its side.
#include "tool.h"

#if KALDRO_TOOL_HAS_FIEDLER

#include <cinttypes>
#include <cstring>
#include <string>

namespace tool {

// The records of an edge file: 16 bytes each, native byte order.
bool read_edges(const std::string &path, std::vector<Edge> &edges, std::string &error) {
  std::vector<uint8_t> raw;
  if (!read_file(path, raw, error)) return false;
  if (raw.size() % 16 != 0) {
    error = "not a whole number of 16-byte records";
    return false;
  }
  edges.resize(raw.size() / 16);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    std::memcpy(&edges[i].src, &raw[16 * i], 4);
    std::memcpy(&edges[i].dst, &raw[16 * i + 4], 4);
    std::memcpy(&edges[i].weight, &raw[16 * i + 8], 8);
  }
  return true;
}

// The drawing: a vertex's horizontal place is its entry of the Fiedler vector, so the
// two sides stand apart; its height is spread by the golden ratio. Edges that cross the
// cut are drawn dashed.
std::string fiedler_svg(const std::vector<double> &v, const std::vector<Edge> &edges) {
  const double w = 800, h = 600, margin = 50;
  std::vector<double> x(v.size()), y(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) {
    x[i] = margin + (v[i] + 1.0) / 2.0 * (w - 2 * margin);
    double f = double(i) * 0.6180339887498949;
    f -= double(uint64_t(f));
    y[i] = margin + 20 + f * (h - 2 * margin - 20);
  }
  std::string s;
  char line[256];
  std::snprintf(line, sizeof line,
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                "viewBox=\"0 0 %.0f %.0f\">\n<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
                w, h, w, h);
  s += line;
  std::size_t plus = 0;
  for (double e : v) plus += e >= 0;
  std::snprintf(line, sizeof line,
                "<text x=\"%.0f\" y=\"30\" font-family=\"sans-serif\" font-size=\"16\">spectral "
                "bisection: %zu vertices on the + side (blue), %zu on the - side (orange)</text>\n",
                margin, plus, v.size() - plus);
  s += line;
  std::snprintf(line, sizeof line,
                "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#bbbbbb\"/>\n",
                w / 2, margin, w / 2, h - margin / 2);
  s += line;
  std::size_t drawn = 0;
  for (const Edge &e : edges) {
    if (e.src >= v.size() || e.dst >= v.size() || ++drawn > 100000) continue;
    const bool cut = (v[e.src] >= 0) != (v[e.dst] >= 0);
    std::snprintf(line, sizeof line,
                  "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"%s/>\n",
                  x[e.src], y[e.src], x[e.dst], y[e.dst], cut ? "#d62728" : "#999999",
                  cut ? " stroke-dasharray=\"4 3\"" : "");
    s += line;
  }
  const bool labels = v.size() <= 200;
  for (std::size_t i = 0; i < v.size(); ++i) {
    std::snprintf(line, sizeof line, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%d\" fill=\"%s\"/>\n", x[i],
                  y[i], labels ? 9 : 3, v[i] >= 0 ? "#1f77b4" : "#ff7f0e");
    s += line;
    if (labels) {
      std::snprintf(line, sizeof line,
                    "<text x=\"%.1f\" y=\"%.1f\" font-family=\"sans-serif\" font-size=\"10\" "
                    "text-anchor=\"middle\" fill=\"white\">%zu</text>\n",
                    x[i], y[i] + 3.5, i);
      s += line;
    }
  }
  s += "</svg>\n";
  return s;
}

namespace {

int run_fiedler(int argc, char **argv) {
  const char *cmd = "fiedler";
  Args args(argc, argv, {"--quiet"}, {"--max-iterations", "--svg"});
  if (!args.ok()) return usage_error(cmd, args.error());
  if (args.positional().size() != 2) return usage_error(cmd, "needs EDGEFILE and N");
  const std::string path = args.positional()[0];
  uint64_t n = 0, iterations = 1000;
  if (!parse_u64(args.positional()[1].c_str(), n) || n > 0xffffffffu / 8)
    return usage_error(cmd, "N must be a vertex count below 536870912");
  if (args.value("--max-iterations") &&
      (!parse_u64(args.value("--max-iterations"), iterations) || iterations > 0xffffffffu))
    return usage_error(cmd, "--max-iterations needs a number");

  std::vector<double> out(n ? n : 1), workspace(8 * n + 1);
  const kaldro_status st = kaldro_laplacian_fiedler_sparse_file(
      uint32_t(n), path.c_str(), uint32_t(iterations), out.data(), workspace.data(), workspace.size());
  if (st == KALDRO_ERR_IO) return fail(cmd, "cannot read '" + path + "'", st);
  if (st == KALDRO_ERR_INVALID)
    return fail(cmd, "'" + path + "' is not an edge file of a graph on " + std::to_string(n) +
                " vertices (16-byte records, vertices below N)", st);
  if (st != KALDRO_OK) return fail(cmd, "cannot compute the Fiedler vector", st);
  out.resize(n);

  std::vector<Edge> edges;
  std::string error;
  if (!read_edges(path, edges, error)) return fail_plain(cmd, "cannot read '" + path + "': " + error);
  std::size_t plus = 0, cut = 0;
  for (double e : out) plus += e >= 0;
  for (const Edge &e : edges)
    if (e.src < n && e.dst < n) cut += (out[e.src] >= 0) != (out[e.dst] >= 0);
  if (!args.flag("--quiet")) {
    std::printf("%-8s %-24s %s\n", "vertex", "fiedler", "side");
    for (std::size_t i = 0; i < out.size(); ++i)
      std::printf("%-8zu %-24.17g %c\n", i, out[i], out[i] >= 0 ? '+' : '-');
  }
  std::printf("bisection: %zu vertices on the + side, %zu on the - side, %zu of %zu edges cut\n",
              plus, out.size() - plus, cut, edges.size());
  if (const char *svg = args.value("--svg")) {
    const std::string doc = fiedler_svg(out, edges);
    if (!write_file(svg, doc.data(), doc.size(), error))
      return fail_plain(cmd, std::string("cannot write '") + svg + "': " + error);
  }
  return kExitOk;
}

}  // namespace

const Command kFiedlerCommand = {
    "fiedler", "spectral bisection of a graph from an edge file",
    "usage: kaldro fiedler EDGEFILE N [--max-iterations K] [--svg FILE] [--quiet]\n"
    "\n"
    "Computes the Fiedler vector of the normalised Laplacian of the graph on N vertices\n"
    "whose edges EDGEFILE holds as 16-byte records (source and destination vertex as\n"
    "unsigned 32-bit numbers, then the weight as a double, in the machine's byte order).\n"
    "Prints each vertex's entry and side (the sign of its entry) and the size of the cut.\n"
    "\n"
    "  --max-iterations K   stop the power iteration after K steps (default 1000)\n"
    "  --svg FILE           draw the graph with each vertex coloured by its side\n"
    "  --quiet              print only the summary line\n",
    run_fiedler, nullptr, 0};

}  // namespace tool

#endif
