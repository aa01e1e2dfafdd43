// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordcsv.h"

#include "recordformat.h"

namespace RecordCsv {

const char Header[] = "host_time,index,yaw_deg,pitch_deg,roll_deg,x_mg,y_mg,z_mg,x_ms2,y_ms2,z_ms2\n";

void appendRow(QByteArray& out, const QByteArray& hostTime, const UART_RCV& remapped)
{
    out.append(hostTime);
    out.append(',');
    out.append(QByteArray::number(remapped.index));
    for (qint16 angle : {remapped.angle1, remapped.angle2, remapped.angle3}) {
        out.append(',');
        out.append(RecordFormat::degrees(angle).toLatin1());
    }
    for (qint16 mg : {remapped.accel1, remapped.accel2, remapped.accel3}) {
        out.append(',');
        out.append(QByteArray::number(mg));
    }
    for (qint16 mg : {remapped.accel1, remapped.accel2, remapped.accel3}) {
        out.append(',');
        out.append(RecordFormat::metresPerSecondSquared(mg).toLatin1());
    }
    out.append('\n');
}

} // namespace RecordCsv
