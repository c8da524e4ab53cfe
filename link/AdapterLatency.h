#pragma once

#include <QString>

// USB serial adapters of the FTDI kind hold received bytes until their latency timer runs out
// (16 ms by default) before passing them on, so every answer of the unit and every XMODEM
// ACK comes late by up to that much. These functions read, lower and explain that timer.

struct AdapterLatency
{
    int timerMs = -1; // -1: the device reports no such timer (no such adapter, a pseudo-terminal)
    QString source;   // where it was read: the sysfs file, or the registry key on Windows
};

// Reads the adapter's timer: on Linux `<sysRoot>/class/tty/<name>/device/latency_timer` of the
// device the path resolves to; on Windows the LatencyTimer value the FTDI driver keeps for the
// COM port under HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS (`sysRoot` is not used there).
AdapterLatency ReadAdapterLatency(const QString &device,
                                  const QString &sysRoot = QStringLiteral("/sys"));

// Sets the timer to 1 ms where this process may (on Linux: the sysfs file is writable, for root
// or through a udev rule); false where it may not or the device has no timer.
bool LowerAdapterLatency(const QString &device, const QString &sysRoot = QStringLiteral("/sys"));

// Asks the serial driver for low latency on an open descriptor (ASYNC_LOW_LATENCY through
// TIOCSSERIAL; drivers of FTDI adapters then use a 1 ms timer). False where the driver does not
// take it (a pseudo-terminal); nothing else is changed. Linux only; false elsewhere (Windows
// has no such request: its drivers take the timer from the registry).
bool RequestLowLatency(int fd);

// The one-line notice for an adapter whose timer is still above 1 ms, with how to lower it.
QString AdapterLatencyNotice(const QString &device, const AdapterLatency &latency);
