#ifndef USBSYNTH_SIM_FINDEXPRESSION_H
#define USBSYNTH_SIM_FINDEXPRESSION_H

#include <QRegularExpression>

#include <string_view>

namespace sim {

// A viFindRsrc search expression in the VISA resource-expression syntax
// (? * + [list] [^list] | ( ) and \ to quote), matched case-insensitively
// against a whole descriptor.
class FindExpression
{
public:
    explicit FindExpression(std::string_view expression);

    // False for an expression that breaks the syntax (VI_ERROR_INV_EXPR).
    bool isValid() const { return valid; }
    bool matches(std::string_view descriptor) const;

private:
    QRegularExpression regex;
    bool valid = false;
};

} // namespace sim

#endif // USBSYNTH_SIM_FINDEXPRESSION_H
