#ifndef KVX_STATION_DISPLAY_H
#define KVX_STATION_DISPLAY_H

#include <QString>
#include <QVector>

class PanelWorker;

// The station's progress. On a terminal: one live line per panel (port,
// serial number, step k of n, the command, a bar during transfers) and a
// summary line, redrawn in place. Otherwise: a plain line for each step that
// ends, and one for each panel.
class Display
{
public:
    explicit Display(bool live);
    bool live() const { return m_live; }
    // Draws the panels' lines (live), or prints what ended since last time.
    void update(const QVector<PanelWorker *> &workers, const QString &summary);
    // Leaves the live lines on the screen as they are (the run is over).
    void keep() { m_drawn = 0; }
    // Drops a worker about to be destroyed (another may get its address).
    void forget(const PanelWorker *worker);
    // Prints a line above the live ones.
    void message(const QString &text);

private:
    void erase();
    bool m_live;
    int m_drawn = 0; // live lines on the screen
    QVector<const PanelWorker *> m_seen;
    QVector<int> m_printed; // per m_seen: steps printed (plain)
};

#endif
