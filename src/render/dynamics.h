// The names of the dynamic variables that the procedure sets on tables and graphs and the
// templates and renderers read back: one spelling for both sides.
#pragma once

namespace velloc::host::dyn {

// Table dynamics: group labels of spanning headers, the treatment variable, the columns a
// definition chose, titles.
inline constexpr char kCntlLevel[] = "_CntlLevel";
inline constexpr char kCntlLevelWgt[] = "_CntlLevelWgt";
inline constexpr char kControlEnd[] = "_ControlEnd";
inline constexpr char kETitle[] = "_ETitle";
inline constexpr char kLabel[] = "_Label";
inline constexpr char kTitle[] = "_Title";
inline constexpr char kTreatedEnd[] = "_TreatedEnd";
inline constexpr char kTrtLevel[] = "_TrtLevel";
inline constexpr char kTrtLevelWgt[] = "_TrtLevelWgt";
inline constexpr char kTrtVar[] = "_TrtVar";
inline constexpr char kWgtType[] = "_WgtType";

// Graph dynamics: axes and their ranges, panels, reference lines, which sets and weights a
// graph shows, the jitter seed.
inline constexpr char kAteWgt[] = "_AteWgt";
inline constexpr char kAttWgt[] = "_AttWgt";
inline constexpr char kBand[] = "_Band";
// 1 when a box graph holds its boxes' summaries instead of its observations (no sink keeps
// the rows).
inline constexpr char kBoxSummary[] = "_BoxSummary";
inline constexpr char kCntlWgtRef[] = "_CntlWgtRef";
inline constexpr char kCont[] = "_Cont";
// 1 when a cloud graph holds only the marks its drawing keeps (no sink keeps the rows): the
// drawing then takes every mark.
inline constexpr char kCloudMarks[] = "_CloudMarks";
// 1 when a CDF graph's curves hold only the vertices their drawing keeps (no sink keeps the
// rows): the drawing then takes every point.
inline constexpr char kCurveVertices[] = "_CurveVertices";
inline constexpr char kDMax[] = "_DMax";
inline constexpr char kDMin[] = "_DMin";
inline constexpr char kDesignWidth[] = "_DesignWidth";
inline constexpr char kMatch[] = "_Match";
inline constexpr char kMatchWgt[] = "_MatchWgt";
inline constexpr char kNCol[] = "_NCol";
inline constexpr char kNRow[] = "_NRow";
inline constexpr char kPanelNum[] = "_PanelNum";
inline constexpr char kPs[] = "_Ps";
inline constexpr char kRefLine[] = "_RefLine";
inline constexpr char kRegion[] = "_Region";
inline constexpr char kRegionWgt[] = "_RegionWgt";
inline constexpr char kSeed[] = "_Seed";
inline constexpr char kStabWgt[] = "_StabWgt";
inline constexpr char kStrata[] = "_Strata";
inline constexpr char kTrtWgtRef[] = "_TrtWgtRef";
inline constexpr char kVertical[] = "_Vertical";
inline constexpr char kWgtRef[] = "_WgtRef";
inline constexpr char kWgtTotals[] = "_WgtTotals";
inline constexpr char kX[] = "_X";
inline constexpr char kXControl[] = "_XControl";
inline constexpr char kXLabel[] = "_XLabel";
inline constexpr char kXMax[] = "_XMax";
inline constexpr char kXMin[] = "_XMin";
inline constexpr char kXTreated[] = "_XTreated";
inline constexpr char kXVarName[] = "_XVarName";
inline constexpr char kYEnd[] = "_YEnd";
inline constexpr char kYIncr[] = "_YIncr";
inline constexpr char kYLabel[] = "_YLabel";
inline constexpr char kYMax[] = "_YMax";
inline constexpr char kYMin[] = "_YMin";
inline constexpr char kYTicks[] = "_YTicks";

} // namespace velloc::host::dyn
