// What the application shell asks of the libraries above it. The shell may not
// depend on the model computation or the distribution engine, yet its start-up
// reads the Lamm-equation settings, its paint shows the distribution plot, and its
// mouse and keyboard handlers drive the tools of the distribution pane (range
// selection and zoom, the integrate button, the peak labels, the molar-mass label).
// The command library installs these operations at start-up; an operation that is
// not installed does nothing, and one with a result gives the stated default, so
// the shell works alone in tests.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "app/menu_item_state.h"
#include "platform/types.h"

namespace tarmic {

class DC;
class MetaFile;
class TXLAWindow;

struct ShellHooks {
  // --- the model ---
  // Packs the model variables into the parameter vector, meniscus and bottom with
  // them (in the electrophoresis cell the bottom keeps its distance from the
  // meniscus); without it only meniscus and bottom are copied into entries 13, 14.
  std::function<void()> packModelParams;

  // --- the menu ---
  // The check mark and grey state of a command whose switch the command library
  // keeps (the model, fit options, ...), and the greying of the commands this version
  // does not build while the full command set is attached; without it every such
  // item is unchecked and enabled.
  std::function<MenuItemState(int id)> menuItemState;

  // --- start-up ---
  // Reads the Lamm-equation settings of "tarmiclammparams.ini".
  std::function<void(TXLAWindow* window)> readLammEqParameterPreferences;

  // --- the distribution pane ---
  // Paint, before anything is drawn: the panes are laid out in three while the
  // distribution pane shows a distribution of the data shown, in two otherwise.
  std::function<void()> layoutPanes;
  // The window's text sizes changed (a new client size): the distribution plot and
  // its buttons are laid out for them.
  std::function<void()> textSizeChanged;
  // The distribution plot's picture, rescaled and recorded again; null while no
  // distribution is shown (default).
  std::function<const MetaFile*()> distributionPicture;
  // Paint, after the distribution plot's picture: the prior of the regularisation
  // scaled into the plot, while one is used (null otherwise, and by default).
  std::function<std::unique_ptr<MetaFile>()> distributionPriorOverlay;
  // Paint: before anything is drawn (the peak labels of the last labelling go,
  // unless a peak information box keeps them). screenDC: the paint's device context
  // when the paint draws on the screen, which it shows at its end; null when it
  // prints.
  std::function<void(DC* screenDC)> beforePaint;
  // Paint: the pictures of the distribution pane's buttons (the integrate button,
  // and the peak labels while they are kept).
  std::function<void(DC& dc)> paintButtons;

  // Left press at button coordinates (0..1000 across and down): on a peak label
  // (true ends the press; default false).
  std::function<bool(TXLAWindow& window, float bx, float by)> pressLabel;
  // Left press on the integrate button: true when it was hit (the press goes on).
  std::function<bool(TXLAWindow& window, float bx, float by)> pressButton;
  // Whether button coordinates lie on the integrate button (no toggling).
  std::function<bool(float bx, float by)> overButton;

  // Right press: a band over the distribution pane starts (true: the press is
  // handled; default false).
  std::function<bool(TXLAWindow& window, unsigned modKeys, const Point& point)> rightPress;
  // Mouse move while a band of the distribution plot is drawn (true: handled).
  std::function<bool(TXLAWindow& window, const Point& point)> mouseMove;
  // Right release that ends a band of the distribution plot (true: handled).
  std::function<bool(TXLAWindow& window, const Point& point)> rightRelease;
  // Right double-click in the distribution pane (true: handled).
  std::function<bool(TXLAWindow& window, unsigned modKeys, const Point& point)> rightDoubleClick;
  // Esc: the peak labels go and an armed range selection is cancelled.
  std::function<void(TXLAWindow& window)> escape;
  // Enter while an integration range is to be drawn: the range is asked for by
  // number instead (true: the key is handled).
  std::function<bool(TXLAWindow& window)> enter;

  // --- the fit-result text ---
  // Paint with bShowFitStatistics: the rmsd of the current fit, then its text, drawn
  // on the paint's device context.
  std::function<void(TXLAWindow& window, DC& dc)> showFitResultText;
  // The printed page: the block of the last best-fit information at (x, y).
  std::function<void(TXLAWindow& window, DC& dc, int x, int y)> drawBestFitInfo;

  // --- boundary and equilibrium analyses ---
  // One tick of the realtime update of files (the timer's, or a key's).
  std::function<void(TXLAWindow& window)> realtimeTick;
  // The picture of the equilibrium-test plot, redrawn; null when there is none.
  std::function<const MetaFile*()> eqTestPicture;
  // Esc in the M* view: closes it (true: the single-pane alternative view is
  // shown, which Esc leaves alone, and the key's handling ends).
  std::function<bool(TXLAWindow& window)> escapeMStarView;
  // Esc in the equilibrium-test view: leaves it.
  std::function<void(TXLAWindow& window)> escapeEqTestView;

  // --- the global equilibrium analysis (app/global_eq_view.h) ---
  // Paint while its view is shown: the pictures of the data and residual panes of
  // the data set shown (none: nothing is drawn).
  std::function<std::vector<const MetaFile*>()> globalEqPictures;
  // PgUp (-1) and PgDn (+1) in its view: the previous or next data set is shown.
  std::function<void(TXLAWindow& window, int step)> stepGlobalEqView;
  // Esc in its view: leaves it.
  std::function<void(TXLAWindow& window)> escapeGlobalEqView;
};

// The installed hooks; the command library assigns the members.
ShellHooks& GetShellHooks();
// Removes every hook (tests).
void ResetShellHooks();

// Runs the installed reader of the Lamm-equation settings (nothing without one).
void ReadInstalledLammPreferences(TXLAWindow* window);

}  // namespace tarmic
