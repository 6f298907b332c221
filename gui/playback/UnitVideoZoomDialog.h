// The "Other" item of the video zoom menu: asks for a magnification in
// percent. UI thread only.
#pragma once

#include <optional>

class QWidget;

namespace tachora {

// Shows "Setup custom zoom" with the current factor in percent (two
// decimals, "." whatever the locale). OK stays disabled until the text is a
// positive number ("," or "." as decimal separator). Returns the entered
// percentage, or none when cancelled.
std::optional<double> AskZoomPercent(QWidget *parent, double factor);

}  // namespace tachora
