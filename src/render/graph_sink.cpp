// The graphs folder: each graph drawn to its own SVG file as it arrives, named so that a
// listing of the folder follows the run order.
#include <cstdio>
#include <filesystem>

#include "base/messages.h"
#include "render/graph_renderers.h"
#include "render/number_format.h"
#include "render/output_messages.h"

namespace velloc::host {

namespace {

class GraphSink : public OutputSink {
  public:
    GraphSink(std::string dir, GraphRenderer renderer)
        : dir_(std::move(dir)), renderer_(std::move(renderer)) {}

    bool keepsGraphRows() const override { return false; }
    void graph(const OutputContext& ctx, const GraphRecord& g) override {
        std::string svg = renderer_ ? renderer_(g) : std::string();
        if (svg.empty()) return;
        char seq[16];
        std::snprintf(seq, sizeof seq, "%04d", ++sequence_);
        std::string name = std::string(seq) + "_" + safeFileName(g.name);
        for (std::size_t i = 0; i < ctx.byValues.size() && i < ctx.byNames.size(); ++i)
            name +=
                "_" + safeFileName(ctx.byNames[i]) + "-" + safeFileName(trimRight(ctx.byValues[i]));
        std::filesystem::path path = std::filesystem::path(dir_) / (name + ".svg");
        ok_ = writeAtomically(path.string(), svg) && ok_;
    }

    bool finish() override { return ok_; }

  private:
    std::string dir_;
    GraphRenderer renderer_;
    int sequence_ = 0;
    bool ok_ = true;
};

} // namespace

std::shared_ptr<OutputSink> makeGraphSink(std::string dir, GraphRenderer renderer) {
    return std::make_shared<GraphSink>(std::move(dir), std::move(renderer));
}

} // namespace velloc::host
