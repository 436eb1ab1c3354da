// recognize: the fields found on card pictures, for scripts and for checking recognition.
#include "tool.h"

#include "recognize/recognizecommand.h"

namespace CardsTool {

int recognizeCommand(Context& context, QStringList args) {
    if (args.isEmpty())
        throw UsageError{QStringLiteral("recognize 需要至少一个图片文件。")};
    return Recognize::runCommand(args, context.out, context.err);
}

} // namespace CardsTool
