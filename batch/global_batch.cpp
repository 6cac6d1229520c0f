#include "batch/global_batch.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <thread>

#include "batch/batch_manifest.h"
#include "batch/batch_options.h"
#include "batch/batch_values.h"
#include "batch/global_report.h"
#include "engine/equilibrium.h"
#include "storage/atomic_file.h"

namespace tarmic {

const char* const kGlobalUsage =
    "usage: tarmic-batch --global --model NAME [--set NAME=VALUE ...] [--float NAME ...] [--conserve-mass]\n"
    "                    [--seed N] --output DIR FILE.xp [FILE.xp ...]\n"
    "  models: ideal1, ideal2, ideal3, monomer-nmer (--set n=2..12),\n"
    "          monomer-nmer-mmer (--set n=N --set m=M, 2 <= n < m <= 12), hetero-ab\n"
    "  --set NAME=VALUE  gives a value (M1, M2, M3, logKa1, logKa2, incompetent, B2, c1, cA, cB,\n"
    "                    baseline, n, m) and holds it\n"
    "  --float NAME      floats a value given by --set (incompetent and B2 also without one);\n"
    "                    meniscus, bottom: one per cell from the experiment files (with\n"
    "                    --conserve-mass or incompetent)\n"
    "  --conserve-mass   one loading per cell across its speeds (needs meniscus and bottom)\n";

namespace {

namespace fs = std::filesystem;

struct GlobalArguments {
  std::string model;
  engine::EquilibriumSettings settings;
  int n = 2, m = 0;
  bool conserveMass = false;
  std::string seed = "0";
  std::string output;
  std::vector<std::string> xps;
};

std::string SeedRefusal(const std::string& text) {
  double seed = 0.0;
  return BatchValueRefusal("--seed " + text, kBatchSeed, text, &seed);
}

std::string ParseGlobal(const std::vector<std::string>& args, GlobalArguments* out) {
  GlobalArguments a;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& s = args[i];
    auto next = [&](std::string* v) {
      if (i + 1 >= args.size()) return false;
      *v = args[++i];
      return true;
    };
    std::string v;
    if (s == "--global") continue;
    if (s == "--help") return "help";
    if (s == "--model") {
      if (!next(&a.model)) return "--model needs a name";
    } else if (s == "--set") {
      if (!next(&v)) return "--set needs NAME=VALUE";
      const std::size_t eq = v.find('=');
      if (eq == std::string::npos || eq == 0) return "--set " + v + ": not NAME=VALUE";
      const std::string name = v.substr(0, eq);
      double value = 0.0;
      if (std::string why = BatchValueRefusal("--set " + v, engine::QuantityOfEquilibriumValue(name), v.substr(eq + 1), &value);
          !why.empty())
        return why;
      if (name == "n") a.n = static_cast<int>(value);
      if (name == "m") a.m = static_cast<int>(value);
      a.settings.set[name] = value;
    } else if (s == "--float") {
      if (!next(&v)) return "--float needs a name";
      a.settings.floated.push_back(v);
    } else if (s == "--conserve-mass") {
      a.conserveMass = true;
    } else if (s == "--seed") {
      if (!next(&v)) return "--seed needs a whole number";
      if (std::string why = SeedRefusal(v); !why.empty()) return why;
      a.seed = v;
    } else if (s == "--output") {
      if (!next(&a.output)) return "--output needs a folder";
    } else if (s.rfind("--", 0) == 0) {
      return "unknown option " + s + " with --global";
    } else {
      a.xps.push_back(s);
    }
  }
  if (a.model.empty()) return "--global needs --model";
  if (a.output.empty()) return "--global needs --output DIR";
  if (a.xps.empty()) return "--global needs one or more experiment files";
  for (const std::string& f : a.settings.floated)
    if (!a.settings.set.count(f) && f != "incompetent" && f != "B2" && f != "meniscus" && f != "bottom")
      return "--float " + f + ": float only a value given by --set";
  *out = std::move(a);
  return "";
}

std::string Num(double v) { return GlobalNumber(v); }

std::string ParametersTable(const engine::Summary& s) {
  std::string t = "parameter\tvalue\terror\tlower 95%\tupper 95%\tunit\tfloated\tstatus\n";
  for (const engine::ValueResult& v : s.globals) {
    const char* status = !v.floated ? "held" : (v.limitsFound ? "fitted" : "limits open");
    t += v.name + "\t" + Num(v.value) + "\t" + Num(v.error) + "\t" + (v.floated ? Num(v.lower95) : "") + "\t" +
         (v.floated ? Num(v.upper95) : "") + "\t" + v.unit + "\t" + (v.floated ? "yes" : "no") + "\t" + status + "\n";
  }
  return t;
}

std::string DataSetsTable(const engine::Problem& p, const engine::Summary& s) {
  std::string t =
      "experiment file\tscan file\tcell\twavelength nm\tspeed rpm\ttemperature C\tpoints\trmsd\tmisfit ratio\t"
      "reference concentration\tbaseline";
  if (!s.locals.empty())
    for (const engine::ValueResult& v : s.locals[0])
      t += (v.name == "baseline" ? "" : "\t" + v.name) + "\t" + v.name + " error";
  t += "\n";
  for (std::size_t d = 0; d < p.dataSets.size(); ++d) {
    const engine::DataSet& ds = p.dataSets[d];
    const engine::DataSetResult& r = s.dataSets[d];
    double ref = 0.0, baseline = 0.0;
    for (const engine::ValueResult& v : s.locals[d]) (v.name == "baseline" ? baseline : ref) += v.value;
    // The monomer-nmer reference: the whole signal at the reference radius.
    const auto* model = dynamic_cast<const engine::EquilibriumModel*>(p.model.get());
    if (model && (model->spec().kind == engine::EquilibriumKind::kMonomerNmer ||
                  model->spec().kind == engine::EquilibriumKind::kMonomerNmerMmer)) {
      const double rr = std::sqrt(engine::ReferenceRadiusSquared(ds));
      std::vector<double> g, l;
      for (const auto& v : s.globals) g.push_back(v.value);
      for (const auto& v : s.locals[d]) l.push_back(v.value);
      double f = 0.0;
      model->Evaluate(ds, g.data(), g.size(), l.data(), l.size(), 1, &rr, &f, nullptr, nullptr);
      ref = f - baseline;
    }
    const std::string fields[] = {ds.experiment, ds.source, std::to_string(ds.cell), Num(ds.wavelength), Num(ds.rpm),
                                  Num(ds.temperature), std::to_string(r.points), Num(r.rmsd),
                                  Num(ds.noise > 0 ? r.rmsd / ds.noise : 0.0), Num(ref), Num(baseline)};
    for (std::size_t c = 0; c < std::size(fields); ++c) {
      if (c) t += '\t';
      t += fields[c];
    }
    for (const engine::ValueResult& v : s.locals[d]) {
      if (v.name != "baseline") {
        t += '\t';
        t += Num(v.value);
      }
      t += '\t';
      t += Num(v.error);
    }
    t += "\n";
  }
  return t;
}

std::string FitTable(const engine::DataSetResult& r) {
  std::string t = "radius\tdata\tfit\tresidual\n";
  for (std::size_t i = 0; i < r.points; ++i)
    t += Num(r.radius[i]) + "\t" + Num(r.data[i]) + "\t" + Num(r.fit[i]) + "\t" + Num(r.data[i] - r.fit[i]) + "\n";
  return t;
}

}  // namespace

int RunGlobalBatch(const std::vector<std::string>& args, std::FILE* summary, std::FILE* err) {
  GlobalArguments a;
  if (std::string why = ParseGlobal(args, &a); why == "help") {
    std::fputs(kGlobalUsage, summary);
    return kBatchComputed;
  } else if (!why.empty()) {
    std::fprintf(err, "tarmic-batch: %s\n%s", why.c_str(), kGlobalUsage);
    return kBatchInputRefused;
  }
  engine::EquilibriumModelSpec spec;
  std::string error;
  if (!engine::ParseEquilibriumModel(a.model, a.n, &spec, &error, a.m)) {
    std::fprintf(err, "tarmic-batch: %s\n", error.c_str());
    return kBatchInputRefused;
  }
  std::vector<engine::DataSet> sets;
  if (!engine::ReadEquilibriumRun(a.xps, &sets, &error)) {
    std::fprintf(err, "tarmic-batch: %s\n", error.c_str());
    return kBatchInputRefused;
  }
  const int threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
  engine::Problem problem;
  if (!engine::BuildEquilibriumProblem(sets, spec, a.settings, threads, &problem, &error, a.conserveMass)) {
    std::fprintf(err, "tarmic-batch: %s\n", error.c_str());
    return kBatchInputRefused;
  }
  engine::Options options;
  options.threads = threads;
  engine::Summary s = engine::Solve(options, problem);
  engine::FillConservedReferenceSignals(problem, &s);
  for (const engine::Note& n : s.notes) std::fprintf(err, "tarmic-batch: %s: %s\n", n.id.c_str(), n.text.c_str());
  if (s.status == engine::Status::kRefused) return kBatchAnalysisRefused;

  std::error_code ec;
  fs::create_directories(a.output, ec);
  if (!fs::is_directory(a.output)) {
    std::fprintf(err, "tarmic-batch: the folder %s cannot be made\n", a.output.c_str());
    return kBatchAnalysisRefused;
  }
  std::vector<std::pair<std::string, std::string>> files = {{"global-parameters.tsv", ParametersTable(s)},
                                                            {"data-sets.tsv", DataSetsTable(problem, s)}};
  for (std::size_t d = 0; d < problem.dataSets.size(); ++d) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "fit-%02zu-", d + 1);
    files.push_back({prefix + fs::path(problem.dataSets[d].source).filename().string() + ".tsv", FitTable(s.dataSets[d])});
  }
  // The time-invariant noise of each cell (and wavelength) whose files switch it on.
  for (std::size_t g = 0; g < problem.tiNoiseGroups.size() && g < s.tiNoise.size(); ++g) {
    const engine::DataSet& first = problem.dataSets[problem.tiNoiseGroups[g][0]];
    const engine::DataSetResult& at = s.dataSets[problem.tiNoiseGroups[g][0]];
    std::string t = "radius\tti noise\n";
    for (std::size_t i = 0; i < s.tiNoise[g].size() && i < at.radius.size(); ++i)
      t += Num(at.radius[i]) + "\t" + Num(s.tiNoise[g][i]) + "\n";
    files.push_back({"ti-noise-cell" + std::to_string(first.cell) + "-" + Num(first.wavelength) + ".tsv", t});
  }
  // The pictures, the summary row and the page of the run.
  std::string model = a.model;
  if (spec.kind == engine::EquilibriumKind::kMonomerNmer || spec.kind == engine::EquilibriumKind::kMonomerNmerMmer)
    model += " n=" + std::to_string(a.n);
  if (spec.kind == engine::EquilibriumKind::kMonomerNmerMmer) model += " m=" + std::to_string(a.m);
  const GlobalRunInfo run{a.xps, model, a.seed};
  AddGlobalReportFiles(run, problem, s, &files);
  for (const auto& [name, text] : files)
    if (!WriteTextFileAtomically((fs::path(a.output) / name).string(), text, &error)) {
      std::fprintf(err, "tarmic-batch: %s\n", error.c_str());
      return kBatchAnalysisRefused;
    }
  // The manifest: the files written, the command and every input with its digest.
  ResultManifest m;
  for (const auto& [name, text] : files) m.files.push_back({name, text.size(), Sha256Hex(text)});
  std::sort(m.files.begin(), m.files.end(), [](const auto& x, const auto& y) { return x.name < y.name; });
  m.version = BatchVersion();
  m.seed = a.seed;
  for (const std::string& arg : args) {
    if (!m.command.empty()) m.command += ' ';
    m.command += arg;
  }
  m.analysis = "global model=" + a.model + " n=" + std::to_string(a.n);
  for (const auto& [name, value] : a.settings.set) m.analysis += " " + name + "=" + Num(value);
  for (const std::string& f : a.settings.floated) m.analysis += " float=" + f;
  if (a.conserveMass) m.analysis += " conserve-mass";
  std::vector<std::string> inputs = a.xps;
  for (const engine::DataSet& d : problem.dataSets) inputs.push_back(d.source);
  for (const std::string& in : inputs)
    if (const auto dg = DigestOfFile(in)) m.inputs.push_back({dg->sha256, fs::absolute(in).string()});
  if (!WriteTextFileAtomically((fs::path(a.output) / kManifestName).string(), ManifestText(m), &error)) {
    std::fprintf(err, "tarmic-batch: %s\n", error.c_str());
    return kBatchAnalysisRefused;
  }
  // The summary, the header and row that summary.tsv holds, as every batch run prints it.
  std::fputs(SummaryText(GlobalSummary(run, s)).c_str(), summary);
  return GlobalExitCode(s);
}

}  // namespace tarmic
