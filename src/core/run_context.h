// The run context: one record per procedure step, passed to every phase. Phases hand data to
// each other only through this record and the utility files.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/balance_stats.h"
#include "core/codes.h"
#include "core/effect_request.h"
#include "core/model_desc.h"
#include "core/model_rows.h"
#include "host/host.h"
#include "numeric/random.h"
#include "statements/parser.h"

namespace velloc {

using Statement = host::ParsedStatement; // a parsed statement record (statements/statements.h)
using Effect = host::Effect;

// A variable of the input data set as the procedure uses it.
struct PlotRecords; // plots/plots.h

struct VarRef {
    int number = 0; // 1-based in the input data set; 0 when none
    std::string name;
    host::VarType type = host::VarType::Numeric;
};

// A CLASS variable: its slot in the packed buffer of formatted values, and for character
// variables in the buffer of raw values.
struct ClassVar {
    VarRef var;
    int width = 0;      // formatted width
    int offset = 0;     // into the packed formatted buffer
    int rawOffset = -1; // into the raw buffer (character variables)
    bool numericUnformatted = false;
};

// An ID variable of the extreme-weight listings.
struct IdVar {
    VarRef var;
    int width = 0; // length, or format width when formatted
};

// An assessed CLASS variable; its level count is found per BY group.
struct AssessClass {
    int classIndex = 0; // position in the CLASS list
    int nLevels = 0;
};

// One indicator column of the assessed CLASS variables in a BY group: a two-level variable
// has one, for its first level (its second level's row, with LEVELS=ALL, is the complement);
// a variable with one level or more than two has one per level, in level order.
struct ClassIndicator {
    int cls = 0;            // position in the assessed CLASS list
    int level = 0;          // the level whose indicator the column holds
    std::string text;       // that level's text as the rows show it
    std::string complement; // two-level variables: the second level's text; empty otherwise
};

// Per-plot selection of rows: the LPS row, the PS row and one flag per assessed continuous
// variable (for the bar chart: per assessed CLASS variable).
struct PlotSelection {
    int lps = 0;
    int ps = 0;
    std::vector<int> vars;
};

// An output data set variable defined by vlcvout.
struct OutVar {
    std::string name;
    std::string label;
    int slot = 0; // which value slot fills it (OutSlot)
};

enum OutSlot {
    kSlotPs,
    kSlotLps,
    kSlotAte,
    kSlotAteStab,
    kSlotAtt,
    kSlotMatchId,
    kSlotMatchWgt,
    kSlotMatchAteWgt,
    kSlotStrata,
    kSlotWeight // the WEIGHT= variable (kind by outWgt*); MATCHID variable i >= 1 uses kSlotWeight
                // + i
};

struct VlcRun {
    // --- Status ------------------------------------------------------------------------
    // The procedure's return code: raised with max(status, code), never lowered. 4 for every
    // warning, 112 for a data condition that abandons a BY group.
    int status = 0;

    // --- Parsed statements (set by vlcinit, read-only afterwards) ------------------------
    std::vector<Statement> statements;
    const Statement* psmodel = nullptr;
    const Statement* output = nullptr;
    int psSupplied = 0; // PSDATA supplies the scores; the fit is skipped
    int psSource = 0;   // ScoreCode: kScorePs for PS=, kScoreLps for LPS=
    int matchGiven = 0;
    int errorsSeen = 0; // parser errors so far (bcheck)
    bool modelStarted = false;

    // Matching options.
    int distance = kScoreLps; // ScoreCode
    int caliperScale = kScoreLps;
    int method = kMethodOptimal; // MethodCode
    int ratioType = kRatioNone;  // RatioCode
    int k = 1;
    int kMin = 1;
    int kMax = 0;
    int kMaxTreated = 1;
    int withReplacement = 0;
    int multipleK = 0;
    std::vector<double> kBuffer; // k doubles with REPLACE and k > 1
    int controlLimitType = 0;    // 1 KMEAN=, 2 PCTCONTROL=, 3 NCONTROL=
    double kMean = host::missingValue();
    double pctControl = host::missingValue();
    std::int64_t nControlLimit = 0;
    double caliper = 0.25;
    int caliperOn = 1;
    int caliperMult = 1;
    int matchOrder = kOrderDescending; // OrderCode
    int showSeed = 0;
    std::vector<int> exactVars; // positions in the CLASS list
    // Mahalanobis distance.
    std::vector<int> mahVars; // positions in the analysis list
    int mahAddPs = 0;         // component position of the PS (0: not added), 1-based
    int mahAddLps = 0;
    int nMahComp = 0;
    int mahCov = kCovControl; // MahCovCode
    int mahSqrt = 1;
    std::vector<double> mahVec1, mahVec2;          // one value per component
    std::vector<double> mahTri1, mahTri2, mahTri3; // packed lower triangles

    // Support region.
    int regionType = 47;
    double regionMin = 0.0;
    double regionMax = 1.0;
    double extendLower = 0.25;
    double extendUpper = 0.25;
    int regionExtend = 1;
    int regionScore = kScoreLps;
    int extendMult = 1;

    // Strata.
    int nStrataReq = 0;
    int strataKey = 1;
    int strataWeight = 1;
    int strataAssess = 0;
    std::vector<double> strataBounds; // nStrataReq + 1
    std::vector<double> strataCounts; // nStrataReq + 1

    // Random streams: the BY group's recorded seed and the running state of the matching
    // stream; the cloud plot's jitter stream likewise.
    std::int64_t seed = 0;
    std::int64_t seedLive = 0;
    std::int64_t cloudSeed = 0;
    std::int64_t cloudSeedLive = 0;

    // Weights.
    int weightType = kWeightNone; // WeightCode
    int stabilize = 0;

    // Assessment.
    int assessGiven = 0;
    int varInfoTable = 0;
    int stdDiffTable = 0;
    int sdTreatedOnly = 0;
    int sdPerSet = 0;
    int stdBinVar = 1;
    int assessLps = 0;
    int assessPs = 0; // 1 shown, -1 computed but hidden
    int allCov = 0;
    std::vector<AssessClass> assessClass;
    std::vector<int> assessCont; // positions in the analysis list
    int nAssessCont = 0;         // continuous variables assessed
    int nAssessClass2 = 0;       // CLASS variables with indicator columns this BY group
    int nAssessRows = 0;         // balance rows: PS (also hidden), LPS, continuous, CLASS

    // Plots.
    int graphicsOn = 0;
    int plotStdDiff = 0;
    int plotBox = 0;
    int plotCdf = 0;
    int plotBar = 0;
    int plotCloud = 0;
    int plotWgtCloud = 0;
    PlotSelection boxSel, cdfSel, cloudSel, barSel;
    int plotOrientation = 1; // 2 vertical
    int finalSetOnly = 0;
    int barFreq = 0; // bar chart shows counts instead of proportions
    double wgtCloudRef = host::missingValue();
    double stdDiffRef = 0.25;

    // Extreme-weight listings.
    int nLargestWgt = 0;
    int nLargestMatchWgt = 0;
    int listLength = 0;
    int nId = 0;
    std::vector<IdVar> idVars;
    int idTextBytes = 0; // packed ID text buffer, multiple of 8
    int idNumCount = 0;

    // Data sets.
    host::Dataset* inData = nullptr;
    std::unique_ptr<host::Dataset> inDataOwned;
    std::string outDataPath; // empty: no OUT= data set
    std::string outDataName; // as written in the program, for messages
    int outObs = kOutAll;    // OutObsCode

    // Variable descriptors.
    std::vector<VarRef> byVars;
    std::vector<bool> byDescending;
    bool byNotSorted = false;
    VarRef freqVar;
    VarRef weightVar;
    VarRef psVar; // the supplied score (PSDATA)
    std::vector<ClassVar> classVars;
    int classBufBytes = 0;
    int classRawBytes = 0;
    int treatClass = -1; // position of the treatment variable in the CLASS list
    std::string treatName;
    std::string treatedText; // TREATED= level, justified into 76 characters
    int treatedTextLen = 0;
    int treatedLast = 0; // TREATED=LAST
    int treatNameWidth = 12;
    int levelTextWidth = 18;
    std::vector<VarRef> analysisVars; // model numeric variables, then VAR= additions
    int nModelCont = 0;               // the first entries of analysisVars
    std::vector<Effect> effects;      // PSMODEL effects

    // Column widths of the tables.
    int labelWidth = 0;
    int nameWidth = 0;
    int valueWidth = 0;

    // Output data set (vlcvout).
    int outPs = 0, outLps = 0, outWgt = 0, outWgtAte = 0, outWgtAteStab = 0, outWgtAtt = 0,
        outWgtMatch = 0, outWgtMatchAte = 0, outAte = 0, outAteStab = 0, outAtt = 0,
        outMatchWgt = 0, outMatchAteWgt = 0, outStrata = 0;
    int nMatchIdVars = 0;
    std::vector<std::string> matchIdNames;
    std::vector<OutVar> outVars; // the new variables, in output order
    std::string outLabel;
    std::vector<double> outSlots; // value slots, one per OutSlot kind plus MATCHID extras
    std::unique_ptr<host::OutputDataset> outData;

    // Utility files.
    std::unique_ptr<host::UtilFile> vlcskip, vlcdata, vlclreg, vlcvout, vlctreat, vlccntl, vlctemp,
        vlccdft, vlccdfc, vlccdfb, vlctmtrt, vlctmcnt, vlctmstr;

    // --- Per-BY-group state (reset by vlcbin) ----------------------------------------------
    int matchActive = 0;
    int nStrata = 0;
    int nStrataShown = 64;

    // --- Observation data (written by vlcin) -----------------------------------------------
    std::int64_t nObsRead = 0;
    double totalFreq = 0.0;
    std::int64_t nObsInput = 0;   // observations of the group read from the input
    std::int64_t nObsDropped = 0; // left out for missing values
    std::string droppedVars;      // the variables that caused it, as note 970/971 lists them

    // --- Output ----------------------------------------------------------------------------
    host::Output* procOutput = nullptr;
    bool groupOpen = false; // currentGroup: an output group is open

    VlcRun() = default;
    VlcRun(const VlcRun&) = delete;
    VlcRun& operator=(const VlcRun&) = delete;
    // The matching stream outlives the step: a later step without SEED= continues it.
    ~VlcRun() {
        if (seedLive > 0) support::sessionStream() = seedLive;
    }

    // Raises status to at least code.
    void raise(int code) {
        if (code > status) status = code;
    }
    // Q: the CLASS indicator columns of the model rows and working records this BY group.
    int classColumns() const { return static_cast<int>(classIndicators.size()); }

    // --- Input and model rows (vlcbin, vlcin, vlcodel) --------------------------------------
    // Record layouts, in doubles from the record start (byte widths for packed text).
    int dataRecBytes = 0; // VLCDATA record length
    int lregExact = 0;    // VLCLREG: first EXACT level index (E = exactVars.size())
    int lregClass = 0;    // first assessed CLASS indicator (Q = classIndicators.size())
    int lregCont = 0;     // first combined continuous value (M = nCombined)
    int lregIdNum = 0;    // first numeric ID value (idNumCount of them)
    int lregIdText = 0;   // packed ID text (idTextBytes)
    int lregRecBytes = 0; // VLCLREG record length
    int nCombined = 0;    // M: Mahalanobis components, then assessed continuous not among them
    std::vector<int> combinedVars;                // analysis-list position of each combined value
    std::vector<unsigned char> assessOnlyMissing; // per analysis variable, this BY group
    // Treatment levels and group labels of the BY group.
    int treatedIndex = 0;                   // which of the two levels (library order) is treated
    std::string treatedLevel, controlLevel; // formatted level texts, left-justified
    std::string treatedLabel, controlLabel; // group labels (catalogue texts 77, 78)
    std::vector<ClassIndicator> classIndicators;   // the BY group's CLASS indicator columns
    std::int64_t nTreated = 0, nControl = 0;       // model rows per group
    std::int64_t freqTreated = 0, freqControl = 0; // frequency totals per group
    BalanceStats balance; // every observation set's statistics (reset by vlcbin)
    // Set once, on the first BY group: the VLCDATA layout (doubles from the record start, the
    // analysis values at 4; text offsets in bytes) and the role of each analysis variable.
    int inputReady = 0;
    int treatedGiven = 0;                // TREATED= written, in any form (FIRST included)
    int dataIdNum = 0, dataClassNum = 0; // first ID number, first CLASS number
    int dataIdText = 0, dataClassText = 0, dataClassRaw = 0; // byte offsets of packed text
    std::vector<int> classNumSlot;                // per CLASS variable: numeric slot, -1 text
    std::vector<unsigned char> assessOnly;        // per analysis variable: assessment only
    std::vector<double> contScale;                // per model continuous variable, per group
    std::vector<double> contLo, contHi;           // their ranges over VLCDATA (vlcin)
    std::unique_ptr<RowCursor> dataCursor;        // the row cursor over VLCDATA
    std::unique_ptr<ModelRowSource> lregFileRows; // VLCLREG as the fit's row source
    std::vector<double> lregRow;                  // the model-row buffer of the group
    int labelWidthMax = 0;                        // the wider of the two group labels

    // --- Weights, region and strata (vlcwght, vlcregn, vlcsort, vlcfile, vlcstra, vlcback) --
    int voutRecBytes = 0; // VLCVOUT record length
    int voutExact = 13;   // first EXACT level index in the working record (doubles)
    int voutClass = 0;    // first assessed CLASS indicator
    int voutCont = 0;     // first combined continuous value; PS and LPS follow the M values
    int voutIdNum = 0, voutIdText = 0;
    int treatRecDoubles = 0, cntlRecDoubles = 0; // VLCTREAT and VLCCNTL record lengths
    double pT = 0.0, pC = 0.0;                   // group shares of the frequency total
    double sdPs = kNaN, sdLps = kNaN;
    double caliperWidth = kNaN, caliperTestWidth = kNaN;
    double extendLowerAmt = kNaN, extendUpperAmt = kNaN;
    double wgtRefTreated = kNaN, wgtRefControl = kNaN; // large-weight reference lines
    double scaleT = 1.0, scaleC = 1.0;                 // c_t, c_c of the scaled weights
    std::string scaleTText, scaleCText;                // catalogue text 79 with c_t, c_c
    std::vector<double> noGroupScores; // (PS, LPS) of the scored rows of no group, in obs order
    std::int64_t psZeroOneCount = 0;   // observations whose PS is exactly 0 or 1 (weights missing)
    double regionLower = kNaN, regionUpper = kNaN;
    std::int64_t nRegionTreated = 0, nRegionControl = 0; // n_te, n_ce
    double maxWeight = 0.0;
    std::vector<double> strataBound, strataLowerPs, strataUpperPs; // 0..nStrata
    std::vector<std::int64_t> strataCumCount[3]; // control, treated, all: cumulative 0..nStrata
    std::vector<std::int64_t> strataCount[3];    // per stratum
    // The largest-weight lists (vlcextw) and the most-matched lists (vlcextm): per group
    // (0 control, 1 treated) listLength entries, largest first; value -1 marks an empty entry.
    struct TopList {
        std::vector<double> obs;   // observation number, -1 when empty
        std::vector<double> value; // weight or match count, -1 when empty
        std::vector<double> idNum; // listLength x idNumCount
        std::vector<char> idText;  // listLength x idTextBytes
    };
    TopList largestWgt[2];
    TopList mostMatched[2];
    double totalDistance = 0.0; // sum of matched-pair distances
    int nSets = 0;              // match sets formed

    // --- Plots (vlcpset builds these per BY group; the plot routines read them) ----------
    std::vector<int> plotPanels; // panel sets in order (plots/plots.h, PlotPanel)
    std::string stdDiffTicks;    // quoted row names of the standardized-difference plot
    std::string panelLabels;     // quoted panel set labels (box plot, bar chart)
    int cdfPanelCols = 0;        // panel columns of a CDF graph
    int cdfTitleWidth = 0;       // width of the CDF Obs column
    int strataCdfWidth = 0;      // width of the stratified CDF Stratum column
    int strataPanelCols = 0;     // stratum-panel columns
    int strataNoticeGiven = 0;   // warning 255 given in this BY group
    int plotGroupOpen = 0;       // a plot family's output group is open
    std::shared_ptr<PlotRecords> plotRecords; // the working file as the plots read it

    // --- Tables and output data set (vlcxods, the table routines, vlcoutd) -----------------
    // Column-table definitions, made once per step; an empty name means not defined.
    host::TableDefinition tabPsInfo, tabStrataInfo, tabVarInfo, tabStrataVarInfo, tabStdDiff,
        tabStrataStdDiff, tabLargestWgt;
    int contRows = 0;    // continuous rows exist: PS shown, LPS assessed or a continuous variable
    int strataOwnSd = 0; // stratum differences use the stratum's own deviation (StdDev shown)

    // --- Matching (vlcxcov, velloc, vlccomb, vlcmend, vlctmtc, vlctexm) ----------------------
    // Control side held in memory, in control-file (ascending PS) order.
    std::vector<double> ctlPs;    // n_c scores
    std::vector<double> ctlExact; // n_c rows of E exact level indices
    std::vector<double> ctlMah;   // n_c rows of nMahComp Mahalanobis coordinates
    std::vector<int> mahPos;      // per listed Mahalanobis covariate: its combined-value index
    bool ctlGathered = false;     // the group files' pass filled the three above, for matching
    // Set numbers (0: unmatched) and per-set counts, index 1..nSets.
    std::vector<std::int64_t> trtSetId, ctlSetId;
    std::vector<std::int32_t> setTrtCount, setCtlCount;
    std::vector<double> ctlReplWeight; // REPLACE with K > 1
    std::vector<int> usedControls;     // controls already given to the current treated unit
    // Next unmatched control at or right of j (index j), at or left of j (index j + 1); lets
    // the greedy search step over matched controls in amortised constant time.
    std::vector<int> nextFreeRight, nextFreeLeft;
    std::vector<double> trtRec; // the current treated record
    int unmatchedFlag = 0;
    int matchStatus = 0;               // 0, 101, 102, 103, 104
    int solverOutcome = 0;             // optimal methods: 0 solved, 1 to check, 2 failed
    std::int64_t nControlsToMatch = 0; // N of variable-ratio and full matching
    // Optimal methods on a score distance list their pairs when fewer than this many are
    // admissible, and price them implicitly otherwise.
    std::int64_t pairListLimit = kPairListLimit;
    // Nearest controls each treated unit brings into the first working network of implicit
    // pricing (any number >= 1 gives the same optimum; tests use 1 so that pricing must work).
    int lineSeedPairs = 8;
    // Seconds of implicit pricing after which each round is noted in the log, at most once
    // in this many seconds (tests set 0 to see every round).
    double pricingNoteSeconds = 10;
    std::int64_t nMatchedTreated = 0, nMatchedControl = 0;
    std::unique_ptr<host::TableDefinition> matchMostDef; // MatchMostObs, made on first use

    // --- Model and fit ----------------------------------------------------------------------
    ModelDesc model;                    // registered once (zlevmod); levels per BY group
    ModelRowSource* lregRows = nullptr; // VLCLREG as model rows (UtilFileRows over the file)
    std::vector<double> coef;           // D coefficients of the group's fit, 0 when aliased
    std::vector<int> aliasFlags;        // D - 1 flags, one per non-intercept column
    int nAliased = 0;                   // aliased design columns
    int nFree = 0;                      // free parameters m = D - nAliased
    int fitReturn = 0;                  // Newton-Raphson result (0 converged)
    int fitIterations = 0;              // Newton iterations of the group's fit
    // The model tables (PSModelEstimates, PSModelFit) of a fitted group.
    bool fitDone = false;                   // the group's model was fitted (not PS= supplied)
    std::vector<double> fitCov;             // D x D inverse information, empty when singular
    std::vector<unsigned char> fitRefLevel; // D flags: aliased by the parameterisation
    std::vector<std::string> fitParmNames;  // D parameter names, "race = hispan", "age*educ"
    std::vector<double> fitColScale;        // D divisors from the scaled design to the data's units
    double fitMinus2LL = 0.0;
    double fitCstat = 0.0;
    std::int64_t fitNUsed = 0; // rows the fit used (positive weight, treatment 0/1)
    double fitWeightUsed = 0.0;

    // --- Treatment effect (EFFECT statement) --------------------------------------------
    effect::Request effect;
    host::TableDefinition tabEffect, tabEffectMeans;
};

} // namespace velloc
