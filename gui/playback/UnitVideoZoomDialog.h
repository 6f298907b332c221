// The "Other" item of the video zoom menu: asks for a magnification in
// percent. UI thread only.
#pragma once

#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace tachora {

// Shows "Setup custom zoom" with the current factor in percent (two
// decimals, "." whatever the locale). OK stays disabled until the text is a
// positive number ("," or "." as decimal separator). Returns the entered
// percentage, or none when cancelled.
std::optional<double> AskZoomPercent(QWidget *parent, double factor);
// The same dialog without waiting for it (the window keeps playing): shows
// it and returns; `done` runs with the percentage when the user confirms.
// The dialog deletes itself when closed.
QDialog *AskZoomPercentLater(QWidget *parent, double factor,
                             std::function<void(double percent)> done);

}  // namespace tachora
