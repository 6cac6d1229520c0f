// CLammIdeal: one finite-element solution of the Lamm equation
//
//   dc/dt = (1/r) d/dr (r D dc/dr - s w^2 r^2 c)
//
// for one sedimenting species in a sector-shaped cell, with the concentration
// profile recorded at the time of every scan and interpolated onto the radii where
// the data are compared.
//
// A caller loads a template step by step (each loader marks its part of the set-up
// valid), then either solves it or copies it into fresh objects for worker threads
// (lamm_threads.h). Solve() checks the set-up, chooses the solution variant (a static
// grid with adaptive Crank-Nicolson steps, a moving grid whose inner nodes follow
// the sedimentation, or the predictor-corrector solution for concentration-dependent
// s and D), runs it, retries with changed numerics when it fails, applies detection
// corrections and returns a status code:
//   0 success; 1 work arrays not allocated; 2 discretization error; 3 singular
//   tridiagonal matrix; 4 set-up incomplete or invalid; 5 too slow rotor
//   acceleration; 6 non-ideality parameters not loaded properly.
//
// Units: radii cm; s in svedberg (x 1e-13 s where w^2 enters); D cm^2/s; times s;
// rotor speed rpm (w = rpm 2 pi / 60); concentrations in the units of c0;
// temperature deg C; vbar ml/g; density g/ml; viscosity relative to water at 20 C.
//
// Arrays are one-based: index 0 exists and is not used. The object owns every array
// it allocates; the scan records, output profiles and radii belong to the caller.
// One object is used by one thread at a time. A solution in a worker thread never
// polls the keyboard and never draws; its messages are raised as engine notices,
// which a worker keeps for the user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "lamm/amount_balance.h"
#include "lamm/lamm_interfaces.h"
#include "lamm/lamm_setup_parts.h"
#include "lamm/moving_hat_core.h"
#include "lamm/radial_corrections.h"
#include "lamm/scan_coverage.h"
#include "lamm/step_control.h"
#include "lamm/tridiagonal.h"
#include "services/error_box.h"
#include "numerics/hydrodynamics.h"
#include "numerics/interpolation.h"
#include "numerics/profile_sums.h"

namespace tarmic {

// Work arrays the solvers of a list's worker give back, for the grids of the next
// solvers: a list makes one solver per equation, and each lays its grid once or
// more. Bounded by kMaxArrays; arrays beyond it are freed.
struct LammWorkArrayPool {
  static constexpr std::size_t kMaxArrays = 160;
  std::vector<std::vector<double>> spare;
};

class CLammIdeal : public LammSpeciesState,
                   public LammDetectionState,
                   public LammOutputState,
                   public LammNumericsState,
                   public LammSolventState,
                   public LammNonIdealityState,
                   public LammCosoluteState {
 public:
  CLammIdeal();
  ~CLammIdeal();
  CLammIdeal(const CLammIdeal&) = delete;
  CLammIdeal& operator=(const CLammIdeal&) = delete;

  // ---- Set-up ---------------------------------------------------------------------
  void SetIdealModel();
  // s (S), D (cm^2/s), meniscus and bottom (cm), loading c0, and the two fitting
  // limits (cm, either order: the larger becomes fRightLimit).
  void LoadSedimentationParameters(double s, double D, double meniscus, double bottom, double c0,
                                   float limit1, float limit2);
  void SkipAccelerationCheck();
  // Binds the scans and the output (see LammOutputBinding); the output is valid
  // when the binding is.
  void LoadOutputParameters(const LammOutputBinding& binding);
  void LoadDiscretizationParameters(const LammDiscretizationSettings& settings);
  void SetBandLoading(bool band, float lamellaWidth, bool invertBand);
  // Temperature (deg C), vbar, density, relative viscosity; derives f/f0.
  void SetSolventConditions(double temperature, double vbar, double density, double viscosity);
  void SetStartTimeOffset(double offset);
  // The static inhomogeneous solvent: compressible solvent or linear gradient. Solve
  // refuses (status 4) after settings that are not Valid.
  void LoadInhomogeneousSolventParameters(const LammSolventSettings& solvent);
  // The sedimenting cosolute, solved as a second Lamm solution beside this one. Solve
  // refuses (status 4) after settings that are not Valid.
  void LoadCosoluteParameters(const LammCosoluteSettings& cosolute);
  // Concentration-dependent s(c) = s (1 - ks c), D(c) = D (1 + kd c), one species or
  // several species sharing the factors of their total; stores s, D and c0 of the
  // main species too. Settings that are not Valid leave the mode inactive and make
  // Solve refuse (status 6).
  void LoadNonIdealityParameters(const LammNonIdealitySettings& nonIdeality);
  // Time lag of the scanner reaching the first data point (absorbance scans).
  void SetScanTimeLag(float firstRadius);
  void SetRadialMagnificationGradient(bool on, float value);
  void SetTemporalDrift(bool on, float percentPerHour, bool exponential);
  void SetRadialConvolution(bool on, float width, float param);
  void SetExcitationShadow(bool on, float coneRadius);
  // Rebinds a copied object to one species and its own output.
  void SetSpeciesAndOutput(double s, double D, float** out, const float* outRadii, int nOutRadii,
                           float* const* scanRadii, const int* scanCounts);
  // Copies every set-up part of the source (not its work arrays or results).
  void CopySetup(const CLammIdeal& source);

  // ---- Solution -------------------------------------------------------------------
  int Solve();
  // Rotor speed (rpm) for the step [t, t + dt].
  double RotorSpeedAtTime(double t, double dt);
  // Counts the step taken and advances dTime by dDt (onto the output time when the
  // step was cut to land there). When the step ends the acceleration, the rotor
  // takes its final speed and atFinalSpeed rebuilds what depends on the speed.
  void AdvanceTime(const std::function<void()>& atFinalSpeed);
  void SelectFEVariant();

  // ---- Element integrals on the object's grid (see element_integrals.h) -----------
  long double IntegrateMassElementEquidistant(int i, int j);
  long double IntegrateStiffnessElement3Equidistant(int i, int j, int k);
  long double IntegrateSedimentationElement3Equidistant(int i, int j, int k);
  long double IntegrateNodeWeight(int i, int n) const;
  long double IntegrateMassElement(int i, int j, int n) const;
  long double IntegrateStiffnessElement(int i, int j, int n) const;
  long double IntegrateSedimentationElement(int i, int j, int n) const;

  // ---- Shared machinery (lamm_grid.cpp, lamm_output.cpp) --------------------------
  int AllocWorkArrays();
  void FreeWorkArrays();
  // Where FreeWorkArrays gives the arrays and AllocWorkArrays takes them from: a
  // list's worker's pool, else the solver's own (kept from one grid to the next).
  LammWorkArrayPool* pWorkArrayPool = nullptr;
  LammWorkArrayPool ownWorkArrays;
  LammWorkArrayPool& WorkArrayPool() { return pWorkArrayPool ? *pWorkArrayPool : ownWorkArrays; }
  int ResizeWorkArrays(int n);
  void SetRotorFromScans();
  void SetStepLimit();
  void SetUpGrid();
  void WriteInitialLoading();
  bool BackDiffusionTest(double s, double D);
  void CLEachIterationOutput(double ri);
  void SolveWithoutDiffusion();
  void SolveStatic();
  void DebugLog(const char* text);

  // ---- Solution variants -----------------------------------------------------------
  void SolveClaverie();         // static grid, adaptive steps
  void SolveMovingHat();        // moving grid
  void FinishMovingHatStep();   // real radii of the moving grid before an output
  void SolveConcDependent();    // concentration-dependent s and D

  // Status of the last solve and the messages it met (oldest first).
  const std::vector<std::string>& Messages() const { return vMessages; }

  // ====================================================================================
  // Fields, named after the program's data model (docs/decisions/lamm.md, "Member
  // names", lists their roles). The set-up fields are in the inherited parts
  // (lamm_setup_parts.h); these are the solution's own state.
  // ====================================================================================

  // ---- Profile and grid -----------------------------------------------------------
  std::vector<double> pScannedConc;  // profile as the scanner records it
  std::vector<double> pConc;         // working concentration on the grid
  std::vector<double> pRadius;       // radial grid, cm (real radii for the moving grid)
  double dTime = 0.0;                // current simulation time, s

  // ---- Thread and interrupt --------------------------------------------------------
  bool bInWorkerThread = false;
  // Messages are only kept (Messages()), not shown: the caller reports them.
  bool bQuietMessages = false;
  // An equation of a list that the user-interface thread solves itself (no worker
  // could be started) reads the keyboard too; one in a worker thread only the flag.
  bool bListInUiThread = false;
  bool bAborted = false;             // stopped early by a user interrupt
  ThrottledKeyPoll keyPoll;          // the keyboard between output times

  // ---- Output -----------------------------------------------------------------------
  std::vector<float> vOwnProfileBlock;
  std::vector<float*> ppOwnProfiles; // own matrix [scan][point] (per-scan radii)
  int nOwnCols = 0, nOwnRows = 0;
  // Positions and weights of the common-radii resampling, made once for the grid
  // and kept while neither the grid nor the output radii change (it is forgotten
  // when the output is bound and at the start of every Solve; within one Solve the
  // caller's radii stay as they are).
  ResamplingPlan outputPlan;
  // When set (by the list that solves this equation), told of every output row the
  // solution writes, so that it sums the kernel while the row is in the core's cache
  // (numerics/profile_sums.h). Owned by the caller.
  ProfileSums* pOutputSums = nullptr;
  int nNextScan = 1;                 // position in the scan order of the next scan
  double dNextScanTime = 0.0;        // its time, s

  // ---- Work arrays ---------------------------------------------------------------
  int nArraysAllocated = 0;
  int nGrid = 0;                     // grid size N
  bool bShutOffBackDiffusion = false;  // back-diffusion shut-off in force for this species
  int nIteration = 0;                // steps taken
  int bRunning = 0;
  double dStepLimit = 0.0;           // largest step while the rotor accelerates, s
  double dAccelEndTime = 0.0;        // s
  bool bAccelerating = false;
  double dRpmNow = 0.0;              // rpm
  double dRpmFinal = 10000.0;        // rpm
  double dAccelRate = 0.0;           // rpm/s
  bool bRetryMode = false;
  // Refinement of the grid in force after a lost amount balance (0: none), and the
  // node count of the grid of that size (amount_balance.h).
  int nBalanceRefinement = 0;
  int RefinedGridSize(int n) const { return BalanceRefinedGridSize(n, nBalanceRefinement); }

  // ---- Readout and failures -----------------------------------------------------------
  double dReadoutM = 0.0;            // amount in the cell after the last step
  int nSingular = 0;                 // a tridiagonal pivot failed
  int nDiscretizationError = 0;      // the discretization failed (overflow, step control gave
                                     // up, amount balance lost)
  // The amount balance of the static and the moving grid and of the
  // concentration-dependent solution (lamm_solve.cpp): the
  // amount of the loading on the grid of the run and whether an attempt of the last
  // Solve ended because the profile strayed from it (amount_balance.h).
  AmountBalance amountBalance;
  // The last attempt ended at the floor on the steps (step_control.h).
  bool bStepFloorReached = false;
  // The scans the last attempt computed (scan_coverage.h); set when its time loop
  // ended before the last scan without a stop rule that vouches for the rest.
  ScanCoverage scanCoverage;
  bool bScansNotReached = false;
  // The last attempt failed in a way a finer grid may mend (a lost balance, the floor
  // on the steps, scans not reached), and its reason (empty for other failures).
  bool RefinableFailure() const;
  std::string FailureCause() const;
  // Node weights integral of r phi_i dr of the static grid of the run, taken with
  // the loaded amount: the grid stays as laid during a run, so that each recorded
  // profile costs one sum.
  std::vector<double> pAmountWeight;
  ProfileAmount CLProfileAmount() const;
  void CLSetLoadedAmount();
  // False (and the balance marked lost) when the profile lost the balance.
  bool CLAmountBalanceHolds();
  // The refusal of a cell, species or loading that LoadSedimentationParameters
  // found unusable: which value, and its range.
  std::string SetUpRefusal() const;

  // ---- Scanner -------------------------------------------------------------------
  bool bScanInProgress = false;
  double dScanDuration = 0.0;        // s
  double dSliceElapsed = 0.0;        // s
  double dSliceDuration = 0.0;       // s
  int nLastCopied = 0;
  int nSlice = 0;
  double dScannerRadius = 0.0;       // cm

  // ---- Grid ---------------------------------------------------------------------------
  double dOmega2S = 0.0;             // s w^2 at the final speed, 1/s
  bool bZeroMode = false;
  float fGridSizeA = 0.0f, fGridSizeB = 0.0f, fOptimizedGridRadius = 0.0f;
  bool bOptimizedGridBuilt = false;  // the widening grid was built

  // ---- Diagnostics -----------------------------------------------------------------
  std::string pszLogFile;
  bool bLogOpened = false;
  std::string pszLogHeader;

  // ---- Variant state (static grid) -----------------------------------------------
  std::vector<double> pConcOld, pConcNew, pRhs;
  std::vector<double> pImplSub, pImplDiag, pImplSup, pExplSub, pExplDiag, pExplSup;
  std::vector<double> pStiffSub, pStiffDiag, pStiffSup, pMassSub, pMassDiag, pMassSup;
  std::vector<double> pTridagGam, pTridagBet;
  // Crank-Nicolson matrices and factors of earlier step sizes of the static grid,
  // kept while the mass and transport matrices stay the same: the steps cycle
  // through a few sizes (each output time restarts them small), and a step of a kept
  // size takes them back instead of forming and factorising again (the same values).
  struct StepFactors {
    double dt = 0.0;  // 0: empty
    long long used = 0;
    std::vector<double> implSub, implDiag, implSup, explSub, explDiag, explSup, gam, bet;
  };
  int nKeptStepFactors = 4;  // slots (0: every new step size is formed again)
  std::vector<StepFactors> keptStepFactors;
  long long nStepFactorUses = 0;
  long long nStepFactorsTakenBack = 0;  // steps that took kept factors back
  long long nStepFactorizations = 0;  // trial steps that formed and factorised their matrices
  long long nTrialSteps = 0;          // trial steps solved (accepted or not)
  long long nTrialRows = 0;           // rows those steps solved
  // Swaps the current matrices and factors with those of slot.
  void SwapStepFactors(StepFactors& slot);
  // Empties every slot (the matrices changed).
  void ForgetStepFactors();
  bool bNonUniformGrid = false;
  int nRetryCount = 0;
  double dDtStep = 1.0;
  double dDtPrev = 1.0;
  bool bCoefChanged = false;
  int nRowsBuilt = 0, nRowsActive = 0;
  bool bMatricesChanged = true;
  bool bOutputTimePending = false;
  double dNextOutputTime = 0.0;      // time a step must land on (scan time or slice), s
  bool bStepLandsOnOutput = false;   // the current step was cut to end on it
  // Cuts the step dDt so that it ends on the pending output time (setting
  // bStepLandsOnOutput). False when no time is left to step (dDt is then reset to 1).
  bool LandStepOnOutputTime();
  // While the rotor accelerates: caps dDt at dStepLimit and, once (clipped), cuts the
  // step that would pass the end of the acceleration (with needsStepLimit only when a
  // step limit is set).
  void CapStepDuringAcceleration(bool& clipped, bool needsStepLimit);
  // The adaptive step control of the object's tolerances, with the largest step dtMax.
  StepControlSettings StepSettings(double dtMax) const;
  double dDtMax = 1000.0;
  bool bOverflow = false;
  double dRelChange = 0.0;
  int iWindowLeft = 1, iWindowRight = 1;
  double dNegTolerance = 1e-6;
  bool bWindowActive = false;
  double dPlateauSW2 = 0.0;
  bool bNoLeftCut = true, bNoRightCut = true, bNoWindow = false;
  int nWindowLeftMax = 1, nWindowGrow = 1;
  double dPlateauConc = 0.0, dPlateauTime = 0.0, dPlateauConc0 = 0.0, dRightCutLevel = 0.0;
  // The window maximum of the last measured step: the guess of the next step's floor.
  double dLastWindowMax = 0.0;
  double dRunStartTime = 0.0;        // time at which the run started, s
  // The largest scale of the static grid's step floor (static_grid_core.h).
  double StepFloorCap() const;
  float fStopLevel = 0.0f;
  int nRefIndex = 1;
  bool bStopCriterionMet = false;
  double dDtAssembled = 1.0;
  float fChange = 1.0f;
  double dElementWidth = 0.0;
  double dDtFixed = 1.0;

  // ---- Variant state (moving grid) ------------------------------------------------
  std::vector<double> pRadius0;
  std::vector<double> pHatSedSub, pHatSedDiag, pHatSedSup;        // Q x s w^2
  std::vector<double> pFrameSub, pFrameDiag, pFrameSup;          // F
  std::vector<double> pPeriodSub, pPeriodDiag, pPeriodSup;       // P of a whole period
  std::vector<double> pPeriodLSub, pPeriodLDiag, pPeriodLSup;    // L of a whole period
  std::vector<double> pPeriodGam, pPeriodBet;
  double dBottomOverMeniscus = 1.0, dGridTime0 = 0.0, dGridRatio = 1.0, dGridPeriod = 1e10;
  double dSW2 = 0.0, dFrameSW2 = 0.0;
  double dGridStretch = 1.0, dStretch = 1.0, dStretchSq = 1.0;
  int nRemeshCount = 0;
  bool bPeriodStepping = false, bRemainderNext = false, bWholeStepNext = false;
  bool bStartUp = false, bWholeStep = false, bFirstStep = false;
  // End-element weights conserved by the re-mesh.
  MovingHatEndWeights hatWeights;
  // End entries of M, S, Q w^2, F at the start of a step (Now) and at its end (At).
  MovingHatEnds hatEndsNow, hatEndsAt;

  // ---- Variant state (concentration dependence) -------------------------------------
  std::vector<double> pDiffElem[7], pSedElem[7], pCoefS, pCoefD;
  std::vector<std::vector<double>> ppSpeciesConc, ppSpeciesConcOld, ppSpeciesConcPred,
      ppSpeciesSignal, ppSpeciesSignalOld, ppSpeciesSignalPred, ppSpeciesCoefS, ppSpeciesCoefD;
  double dDtTrial = 1.0, dDtLimit = 1000.0;
  float fTimeScheme = 2.0f;

  // ---- Inhomogeneous solvent (local factors) -----------------------------------------
  int nLocalFactorPoints = 0;
  std::vector<double> pViscFactor, pBuoyFactor, pCosoluteConc, pCompressionDensity;

  // ---- Second (cosolute) solution -----------------------------------------------------
  int nComp2Allocated = 0;
  bool bComp2Allocated = false;
  std::vector<double> pComp2Radius, pComp2Conc, pComp2ConcPred, pComp2ConcOld, pComp2Rhs;
  std::vector<double> pComp2ImplSub, pComp2ImplDiag, pComp2ImplSup;
  std::vector<double> pComp2ExplSub, pComp2ExplDiag, pComp2ExplSup;
  std::vector<double> pComp2StiffSub, pComp2StiffDiag, pComp2StiffSup;
  std::vector<double> pComp2MassSub, pComp2MassDiag, pComp2MassSup;
  std::vector<double> pComp2Gam, pComp2Bet, pComp2CoefS, pComp2CoefD;
  std::vector<double> pComp2DiffElem[7], pComp2SedElem[7];
  double dTimeComp2 = 0.0, dDtComp2 = 0.0, dDtComp2Prev = 0.0, dDtComp2Pred = 0.0;
  double dComp2DtFactorised = 0.0, dComp2Spacing = 0.0;
  int bComp2Refactor = 1;
  // Output of the second solution at each completed scan (equation 1, user-interface
  // thread only): its profile drawn beside the species' profile, and written as the
  // scan file "comp2_<position in the scan order>.r00" into szComp2Directory.
  bool bComp2Display = false;
  bool bComp2WriteFiles = false;
  std::string szComp2Directory;
  // The first scan file of the second solution that could not be written; reported
  // once when the output of the solution ends, after which no more are tried.
  std::string szComp2WriteFailure;
  bool bComp2FailureReported = false;
  void SetComp2Output(bool display, bool writeFiles, const std::string& directory);
  // Writes the second solution's profile for the scan at this position of the scan
  // order; false when the file could not be written.
  bool WriteComp2ScanFile(int position);
  // Reports a pending write failure of the second solution's scan files.
  void ReportComp2WriteFailure();

  // ---- Internal operations (public so that tests can drive single stages) -------
  // Static grid (static_grid.cpp).
  double CLStaticGridStep();
  bool StepProfileFinite(int from, double* windowMax) const;
  double WindowMax() const;
  void CLStaticGridAdvance();
  // windowMax: the largest value of the active window after the step (at least 0).
  double CLStaticGridRelativeChange(double windowMax);
  // A trial step's finite check, window maximum and (where it can be taken in the
  // same pass) relative change; false when a value is not finite or beyond 1e100.
  struct StepMeasure {
    double windowMax = 0.0, change = 0.0;
    bool negative = false, changeKnown = false;
  };
  bool MeasureStep(int from, StepMeasure* measure);
  // The step-size test's value for the measured step (CLStaticGridRelativeChange).
  double MeasuredRelativeChange(const StepMeasure& measure);
  double StepChangeOutcome(double change, bool negative);
  void CLStaticGridReflectMeniscus();
  double CLStaticGridAmount();
  int CLMoveWindowLeft();
  int CLMoveWindowRight(double t);
  void CLStaticGridTrialStep(double dt);
  void CLStaticGridFormCrankNicolson(double dt, int n);
  void CLStaticGridAssemble(int n);
  void CLbShutOffBackDiffusion(int n);
  // Stop test (stop_test.cpp).
  void CLSetStopReference();
  int CLStopReferenceReached();
  // Moving grid (moving_grid.cpp).
  void CLLayMovingGrid();
  void CLMovingHatAssemble();
  void CLMovingHatReassemble();
  void CLPrecomputePeriodStep();
  void CLMovingHatCrankNicolson(double dt);
  double CLMovingHatStep();
  void CLMovingHatAdvance();
  void CLMovingHatRemesh();
  void CLDampOverflow();
  double CLMovingHatAmount();
  void CLMovingGridRadii();
  void CLPinGridEnds(double trel);
  double CLNodeWeight(int i) const;
  // Concentration dependence (conc_dependent.cpp).
  double CLConcDependentStep();
  void CLPredictorStep(double dt);
  void CLCorrectorStep();
  double CLRelativeChange();
  void CLAdvanceTime();
  void CLElementIntegralsAtSpeed();
  void CLAssembleTransport();
  void CLFormCrankNicolson(double dt);
  double CLTotalAmount();
  // Inhomogeneous solvent (inhomogeneous_solvent.cpp).
  void CLInitLocalSolvent(const double* radii);
  void CLUpdateLocalSolvent(const double* radii);
  double CLLocalFrameS(double s) const;
  double CLCosoluteViscosity(double c) const;
  double CLCosoluteDensity(double c) const;
  void CLCompressionDensityProfile(double* out, const double* radii, double rho0,
                                   double compressibility) const;
  long double CLVarStiffnessElement(int i, int j, const double* radii, int n) const;
  long double CLVarSedimentationElement(int i, int j, const double* radii, int n) const;
  double CLEndDiffusionFactor(const double* radii, int k) const;
  double CLEndSedimentationFactor(const double* radii, int k) const;
  // Second solution (second_component.cpp).
  int CLAllocComp2Arrays();
  int CLInitComp2();
  void CLAdvanceComp2();
  void CLStepComp2(double dt);
  void CLComp2PredictorStep(double dt);
  void CLComp2CorrectorStep();

  // Front-end helpers (lamm_solve.cpp, lamm_output.cpp, lamm_grid.cpp).
  void RunSelectedSolver();
  // The optics that record this solution's scans (radial resolution of absorbance
  // data, fluorescence corrections) and the time their drift refers to for the scan
  // at position p of the scan order.
  CellOptics DetectionOptics() const;
  double DetectionTime(int position) const;
  void FillScansAfterStop();
  // The profile of the scan at position p of the scan order: its values, radii and
  // count (the own matrix row in per-scan mode, else the caller's common-radii row).
  struct OutputRow {
    float* c;
    const float* r;
    int n;
  };
  OutputRow ScanOutputRow(int position) const;
  // The one way a solution writes a scan's output row: fill(row) writes it, then
  // pOutputSums is told (ScanOutputRow is not used otherwise).
  template <typename Fill>
  void WriteScanRow(int position, Fill&& fill);
  // Records the profile computed over the cell (values on the grid radii) onto the
  // scan's output row as the optics see it.
  void StoreProfile(int position, const double* values);
  void BuildOptimizedGrid(double radius);
  // Static grid of a species whose back-diffusion is not shut off: the elements
  // shrink geometrically towards the bottom so that the pile-up there is resolved
  // (sigma as from EquilibriumSigma). Adds nodes; keeps the grid up to the junction.
  void RefineGridAtBottom(double sigma);
  // sigma = Mb w^2 / (2 R T) in cm^-2 at the final rotor speed and the temperature of
  // the last scan: the sedimentation equilibrium profile is proportional to
  // exp(sigma r^2).
  double EquilibriumSigma() const;
  // The static grid is to be refined towards the bottom: optimized static grid with
  // the automatic grid size, sedimenting species, back-diffusion not shut off.
  bool BottomRefinementWanted() const;
  void LayEquidistantGrid();
  void BindOutput(float** out, const float* outRadii, int nOutRadii, float* const* scanRadii,
                  const int* scanCounts);
  double ScanTime(int position) const;  // time of the scan at a position of the scan order
  const LammScanRecord& ScanAt(int position) const;
  // Reports a message: kept in Messages() and raised as an engine notice (which a
  // worker thread keeps for the user-interface thread).
  void ReportMessage(const std::string& text);
  // Records a failed tridiagonal solve: nSingular and its message.
  void ReportTridag(TridagStatus status);
  // Views of the static-grid matrices.
  Tridiagonal MassMatrix() { return {pMassSub.data(), pMassDiag.data(), pMassSup.data()}; }
  Tridiagonal TransportMatrix() { return {pStiffSub.data(), pStiffDiag.data(), pStiffSup.data()}; }
  Tridiagonal ImplicitMatrix() { return {pImplSub.data(), pImplDiag.data(), pImplSup.data()}; }
  Tridiagonal ExplicitMatrix() { return {pExplSub.data(), pExplDiag.data(), pExplSup.data()}; }

 private:
  std::vector<std::string> vMessages;
};

}  // namespace tarmic
