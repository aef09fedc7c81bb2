// cisffc demo: a simulated module calibrated by every run, the runs compared,
// the report drawn and the held-out images corrected as on a production line.
#ifndef CISFFC_DEMO_COMMAND_H
#define CISFFC_DEMO_COMMAND_H

#include <string>

namespace CLI {
class App;
}  // namespace CLI

namespace cisffc {

struct DemoCommand {
    std::string outFolder = "cisffc-demo";
};

void AddDemoOptions(CLI::App& command, DemoCommand& options);
int RunDemo(const DemoCommand& command);

}  // namespace cisffc

#endif  // CISFFC_DEMO_COMMAND_H
