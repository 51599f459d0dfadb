// vlcoutd: the output data set rows of one BY group, in input order. The input observations
// are read again beside VLCSKIP (which says whether each took part) and the working file,
// which is back in observation order.
#include "output/output_data.h"

#include <cstdint>
#include <vector>

#include "adjust/adjust.h"
#include "core/phases.h"
#include "core/run_context.h"

namespace velloc {

int vlcoutd(VlcRun& run, int matchSuccess, int nStrata) {
    if (!run.outData || !run.inData) return 0;
    host::Dataset& in = *run.inData;
    host::OutputDataset& out = *run.outData;
    const int nIn = in.nvars();
    const double missing = host::missingValue();
    std::vector<double>& slot = run.outSlots;
    if (slot.size() < static_cast<std::size_t>(kSlotWeight) + 1) slot.resize(kSlotWeight + 1);

    run.vlcskip->point(0);
    run.vlcvout->point(0);
    in.rewindGroup();
    const std::size_t recDoubles = static_cast<std::size_t>(run.voutRecBytes + 7) / 8;
    std::vector<double> buf(recDoubles < kVoutFixed ? kVoutFixed : recDoubles);

    // Every observation has its flag and every one that took part its working record: a file
    // that ends early is a fault, never a row of missing values.
    auto fail = [](host::UtilFile& f) {
        host::utilFatal(f.lastError() ? f.lastError() : host::kUtilIoError);
    };
    std::vector<unsigned char> isText(static_cast<std::size_t>(nIn) + 1, 0);
    for (int v = 1; v <= nIn; ++v)
        isText[v] = in.var(v).type == host::VarType::Character;
    std::size_t nextScored = 0;
    while (in.nextObs()) {
        std::int32_t skip = 1;
        if (!run.vlcskip->read(&skip)) fail(*run.vlcskip);
        double region = 0.0;
        std::fill(slot.begin(), slot.end(), missing);
        if (skip == 2 && nextScored + 1 < run.noGroupScores.size()) {
            // A row of no group that could be scored: its score, nothing else.
            slot[kSlotPs] = run.noGroupScores[nextScored];
            slot[kSlotLps] = run.noGroupScores[nextScored + 1];
            nextScored += 2;
        }
        if (skip == 0) {
            // In place when the record holds every fixed field, else in a buffer that does.
            const double* rec = recDoubles >= kVoutFixed
                                    ? host::nextDoubles(*run.vlcvout, buf.data())
                                : run.vlcvout->read(buf.data()) ? buf.data()
                                                                : nullptr;
            if (!rec) fail(*run.vlcvout);
            slot[kSlotPs] = rec[kVoutPs];
            slot[kSlotLps] = rec[kVoutLps];
            region = rec[kVoutRegion];
            if (run.outAte || run.outWgtAte) {
                slot[kSlotAte] = rec[kVoutAte];
                slot[kSlotAteStab] = rec[kVoutAteStab];
            }
            if (run.outAtt || run.outWgtAtt) slot[kSlotAtt] = rec[kVoutAtt];
            if (matchSuccess) {
                if (run.outMatchWgt || run.outWgtMatch) slot[kSlotMatchWgt] = rec[kVoutMatchAtt];
                if (run.outMatchAteWgt || run.outWgtMatchAte)
                    slot[kSlotMatchAteWgt] = rec[kVoutMatchAte];
                if (run.nMatchIdVars > 0) slot[kSlotMatchId] = rec[kVoutMatchSet];
            }
            if (nStrata > 0 && run.outStrata) slot[kSlotStrata] = rec[kVoutStratum];
            // The WEIGHT= variable carries the analysis weight of its kind.
            if (run.outWgtAte)
                slot[kSlotWeight] = run.outWgtAteStab ? slot[kSlotAteStab] : slot[kSlotAte];
            else if (run.outWgtAtt)
                slot[kSlotWeight] = slot[kSlotAtt];
            else if (run.outWgtMatch)
                slot[kSlotWeight] = slot[kSlotMatchWgt];
            else if (run.outWgtMatchAte)
                slot[kSlotWeight] = slot[kSlotMatchAteWgt];
        }
        if (run.outObs == kOutRegion && !(region > 0.1)) continue;
        if (run.outObs == kOutMatched && !(region > 1.1)) continue;
        for (int v = 1; v <= nIn; ++v) {
            if (isText[v])
                out.setText(v, in.text(v));
            else
                out.setNum(v, in.num(v));
        }
        for (std::size_t j = 0; j < run.outVars.size(); ++j) {
            std::size_t s = static_cast<std::size_t>(run.outVars[j].slot);
            out.setNum(nIn + 1 + static_cast<int>(j), s < slot.size() ? slot[s] : missing);
        }
        out.writeRow();
    }
    return 0;
}

int vlcoutc(VlcRun& run) {
    // An input without observations leaves no output data set behind.
    if (!run.outData || !run.inData || run.inData->nobs() == 0) return 0;
    return run.outData->commit() ? 0 : host::kExitOutputSetup;
}

} // namespace velloc
