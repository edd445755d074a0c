#pragma once

#include <QFont>
#include <QString>
#include <Qt>

class QLineEdit;
class QWidget;

namespace mirsalex {

// Screen width and height in twips plus 120, measured at start-up; the
// placement of the windows is computed from them.
extern int LargoSchermo;
extern int AltoSchermo;

// Twips per screen pixel (15 at 96 dots per inch).
int TwipsPerPixel();

// Measures the primary screen into LargoSchermo and AltoSchermo.
void MisuraSchermo();

// Shrinks a window that is larger than the screen to the screen, then centres
// it on the extents measured at start-up.
void CentraForm(QWidget* window);

// Keeps the whole window, its frame included, within the available area of
// its screen: shrinks it (never below its minimum size) and moves it in.
void TieniNelloSchermo(QWidget* window);

// Keyboard conventions of the data windows, applied before the control sees
// the key: F2 presses the window's button whose caption has the accelerator
// U ("&USCITA"); Ctrl+F8 toggles the caption between the normal one and the
// window's internal name followed by " !" (not on a borderless window).
// Returns true when the key was used.
bool GestioneTasti(int key, Qt::KeyboardModifiers modifiers, QWidget* window);

// The caption remembered by Ctrl+F8, one for the whole process.
QString DidascaliaRicordata();

// Lets pending events run, then selects the box's text from its start for 100
// characters; the selection is made once the event that gave the focus has
// been handled, so a mouse click does not undo it.
void SelezionaTesto(QLineEdit* box);

// The window's default mouse pointer again, then pending events run.
void RipristinaPuntatore(QWidget* window);

// The system's fixed-pitch font (reports, previews, lists of versions).
QFont fixedFont();

} // namespace mirsalex
