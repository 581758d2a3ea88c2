#ifndef USBSYNTH_CTL_INSTRUMENTS_H
#define USBSYNTH_CTL_INSTRUMENTS_H

#include "link/modeltable.h"
#include "link/visalibrary.h"

#include <QList>
#include <QString>
#include <QStringList>

// The supported instruments as the panel's scan finds and identifies them,
// without its pauses, in one resource-manager session.
class Instruments
{
public:
    struct Instrument
    {
        QString resource;
        QString serial;
        QString productId;
        QString model;
        QString firmware;
        models::FrequencyRange range;
    };

    Instruments();
    ~Instruments();
    Instruments(const Instruments &) = delete;
    Instruments &operator=(const Instruments &) = delete;

    // Searches and identifies. serial: only instruments with that serial are
    // asked (all of them when empty).
    QList<Instrument> find(const QString &serial = QString());

    visa::Session resourceManager() const { return rm; }
    // What was tried and what was seen, for "not found" messages: the VISA
    // library (or why none loaded) and the USB resources the search returned.
    QString diagnosis() const;

private:
    visa::Session rm = visa::NullSession;
    bool managerOpen = false;
    QStringList seen;
    QStringList rejected;
};

#endif // USBSYNTH_CTL_INSTRUMENTS_H
