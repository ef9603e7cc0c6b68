#include "FakePeerLink.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTest>

#include "FakeWire.h"

namespace {
// Runs the event loop until done() or the time is up.
template <typename Done>
bool WaitUntil(Done done, int timeout)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeout)
        QTest::qWait(10);
    return done();
}
} // namespace

FakePeerLink::FakePeerLink(QTcpSocket* socket, bool accepted, bool obfuscated, QObject* parent)
    : QObject(parent), m_socket(socket), m_accepted(accepted), m_obfuscated(obfuscated),
      m_mode(accepted ? Mode::Opening : Mode::Messages)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::connected, this, &FakePeerLink::OnConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &FakePeerLink::OnReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &FakePeerLink::OnDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &FakePeerLink::OnDisconnected);
    m_keyed = !obfuscated;
    // Bytes that came before the signals were connected.
    if (accepted)
        QMetaObject::invokeMethod(this, &FakePeerLink::OnReadyRead, Qt::QueuedConnection);
}

void FakePeerLink::OnConnected()
{
    if (!m_obfuscated)
        return;
    const quint32 key = QRandomGenerator::global()->generate();
    m_socket->write(FakeWire().U32(key).Bytes());
    m_out = FakeObfuscation(key, FakeObfuscation::OpenerSeed);
    m_in = FakeObfuscation(key, FakeObfuscation::AccepterSeed);
    m_keyed = true;
}

void FakePeerLink::SendRaw(const QByteArray& bytes)
{
    m_socket->write(m_obfuscated ? m_out.Apply(bytes) : bytes);
}

void FakePeerLink::SendGreeting(const QString& name, const QString& type, quint32 token)
{
    SendRaw(FakeWire::Frame(FakeWire().U8(1).Str(name).Str(type).U32(token).Bytes()));
}

void FakePeerLink::SendRelayAnswer(quint32 token)
{
    SendRaw(FakeWire::Frame(FakeWire().U8(0).U32(token).Bytes()));
}

void FakePeerLink::SendMessage(quint32 code, const QByteArray& body)
{
    SendRaw(FakeWire::Message(code, body));
}

void FakePeerLink::SendLinkFrame(quint8 code, const QByteArray& body)
{
    SendRaw(FakeWire::LinkFrame(code, body));
}

void FakePeerLink::Close()
{
    m_socket->disconnectFromHost();
}

void FakePeerLink::StopReading()
{
    m_reading = false;
    // The socket itself then stops taking bytes from the system.
    m_socket->setReadBufferSize(1);
}

void FakePeerLink::ResumeReading()
{
    m_reading = true;
    m_socket->setReadBufferSize(0);
    QMetaObject::invokeMethod(this, &FakePeerLink::OnReadyRead, Qt::QueuedConnection);
}

void FakePeerLink::Gulp()
{
    // One read of all the system holds (the socket asks it how much), then
    // the socket holds back again.
    m_socket->setReadBufferSize(0);
    m_socket->waitForReadyRead(0);
    m_socket->setReadBufferSize(1);
    m_reading = true;
    OnReadyRead();
    m_reading = false;
}

void FakePeerLink::SetMode(Mode mode)
{
    m_mode = mode;
    while (Parse()) {
    }
}

bool FakePeerLink::WaitForConnected(int timeout)
{
    return WaitUntil([this] { return m_socket->state() == QAbstractSocket::ConnectedState && m_keyed; }, timeout);
}

bool FakePeerLink::WaitForOpening(int timeout)
{
    return WaitUntil([this] { return opening.received; }, timeout);
}

bool FakePeerLink::WaitForMessages(int count, int timeout)
{
    return WaitUntil([this, count] { return messages.size() >= count; }, timeout);
}

bool FakePeerLink::WaitForRaw(int size, int timeout)
{
    return WaitUntil([this, size] { return raw.size() >= size; }, timeout);
}

bool FakePeerLink::WaitForLinkFrames(int count, int timeout)
{
    return WaitUntil([this, count] { return linkFrames.size() >= count; }, timeout);
}

bool FakePeerLink::WaitForClosed(int timeout)
{
    return WaitUntil([this] { return m_closed; }, timeout);
}

void FakePeerLink::OnReadyRead()
{
    if (!m_reading)
        return;
    QByteArray bytes = m_socket->readAll();
    if (m_obfuscated && !m_keyed) {
        // An accepted obfuscated link starts with the opener's key.
        m_encoded.append(bytes);
        if (m_encoded.size() < 4)
            return;
        FakeWire keyBytes(m_encoded.left(4));
        quint32 key = 0;
        keyBytes.ReadU32(key);
        m_in = FakeObfuscation(key, FakeObfuscation::OpenerSeed);
        m_out = FakeObfuscation(key, FakeObfuscation::AccepterSeed);
        m_keyed = true;
        bytes = m_encoded.mid(4);
        m_encoded.clear();
    }
    m_buffer.append(m_obfuscated ? m_in.Apply(bytes) : bytes);
    bool any = false;
    while (Parse())
        any = true;
    if (any || m_mode == Mode::Raw)
        emit Received();
}

bool FakePeerLink::Parse()
{
    if (m_mode == Mode::Raw) {
        raw.append(m_buffer);
        m_buffer.clear();
        return false;
    }
    FakeWire in(m_buffer);
    quint32 length = 0;
    QByteArray content;
    if (!in.ReadU32(length))
        return false;
    if (length > 64u * 1024 * 1024) {
        broken = true;
        return false;
    }
    if (!in.ReadRaw(int(length), content))
        return false;
    m_buffer.remove(0, 4 + int(length));

    FakeWire frame(content);
    if (m_mode == Mode::Opening) {
        frame.ReadU8(opening.kind);
        if (opening.kind == 1)
            frame.ReadStr(opening.name) && frame.ReadStr(opening.type) && frame.ReadU32(opening.token);
        else
            frame.ReadU32(opening.token);
        opening.received = true;
        const QString type = opening.kind == 1    ? opening.type
                             : typeOfRelayedToken ? typeOfRelayedToken(opening.token)
                                                  : QString();
        m_mode = type == "F" ? Mode::Raw : type == "D" ? Mode::LinkFrames : Mode::Messages;
        emit OpeningReceived();
        return true;
    }
    if (m_mode == Mode::Messages) {
        quint32 code = 0;
        frame.ReadU32(code);
        QByteArray body;
        frame.ReadRaw(frame.Remaining(), body);
        messages.append({code, body});
        return true;
    }
    quint8 code = 0;
    frame.ReadU8(code);
    QByteArray body;
    frame.ReadRaw(frame.Remaining(), body);
    linkFrames.append({code, body});
    return true;
}

void FakePeerLink::OnDisconnected()
{
    if (m_closed)
        return;
    OnReadyRead();
    m_closed = true;
    emit Closed();
}
