// The FTP server's protocol over a scripted network: start-up and its
// failures, the command table, directory rules, PORT, command lines,
// locate, uploads and everything a client can do wrong with them.

#include "../../../support/stdout_capture.h"
#include "fake_ftpd_platform.h"
#include "link/ftpd.h"
#include "link/ftpd_int.h"
#include "ms_clock.h"

#include <QTest>

class TestFtpd : public QObject
{
    Q_OBJECT

    uint32_t m_now = 0;

    // Runs service steps, 25 ms apart, until the server waits for the
    // client: in command state with every received byte looked at and no
    // scripted bytes left, or waiting for a client that is not there.
    void drive(FakeFtpd &fake, int limit = 2000)
    {
        for (int i = 0; i < limit; ++i) {
            const FtpdState &s = g_ftpd;
            if (s.state == FTPD_ST_COMMAND && s.rx_pos >= s.rx_len && fake.control.empty())
                return;
            if (s.state == FTPD_ST_ACCEPT && fake.pendingClients == 0)
                return;
            if (ftpd_error())
                return;
            ftpd_step();
            m_now += 25;
        }
        QFAIL("the server never came to wait for its client");
    }

    // A fresh server for UDP port 2001 with one client logged in to it.
    void login(FakeFtpd &fake)
    {
        const uint8_t ip[4] = {10, 1, 2, 3};
        ftpd_init(fake.platform(), ip, 2001);
        fake.pendingClients = 1;
        drive(fake);
        QCOMPARE(ftpd_state(), int(FTPD_ST_COMMAND));
        fake.takeSent();
    }

    static QByteArray say(FakeFtpd &fake, TestFtpd *t, const QByteArray &line)
    {
        fake.control.push_back(line + "\r\n");
        t->drive(fake);
        return fake.takeSent();
    }

    // PORT for the client's data listener, then STOR, the data chunks and
    // the end of the data connection; returns the replies.
    QByteArray upload(FakeFtpd &fake, const QByteArray &payload)
    {
        QByteArray replies = say(fake, this, "PORT 192,168,7,9,4,1");
        for (int i = 0; i < payload.size(); i += 700)
            fake.data.push_back(payload.mid(i, 700));
        fake.data.push_back(FakeFtpd::closed());
        replies += say(fake, this, "STOR cfg");
        return replies;
    }

private slots:
    void init()
    {
        m_now = 1000;
        msc_set_test_source(&m_now);
    }
    void cleanup() { msc_set_test_source(nullptr); }

    void portsFromUdpPort()
    {
        QCOMPARE(int(ftpd_control_port(2001)), 14023);
        QCOMPARE(int(ftpd_data_port(2001)), 14022);
        QCOMPARE(int(ftpd_control_port(0)), 21);
        QCOMPARE(int(ftpd_data_port(0)), 20);
        QCOMPARE(int(ftpd_control_port(27757)), 65535);
        // 16-bit ports: 2 x 42101 + 10021 = 94223 wraps to 28687.
        QCOMPARE(int(ftpd_control_port(42101)), 28687);
        QCOMPARE(int(ftpd_data_port(42101)), 28686);
    }

    void startupBannerAndFailures()
    {
        {
            FakeFtpd fake;
            StdoutCapture out;
            const uint8_t ip[4] = {10, 1, 2, 3};
            ftpd_init(fake.platform(), ip, 2001);
            fake.pendingClients = 1;
            drive(fake);
            QCOMPARE(int(fake.boundPort), 14023);
            QCOMPARE(QByteArray(reinterpret_cast<char *>(fake.boundIp), 4), QByteArray("\x0a\x01\x02\x03", 4));
            QCOMPARE(fake.messages, QList<QByteArray>{"Ftp using ports:14023 14022"});
            QCOMPARE(fake.sent, QByteArray("220-Pellam FTP Server.\r\n"
                                           "220-Panel configuration upload and locate.\r\n"
                                           "220 Type QUOTE HELP for information.\r\n"));
            const QByteArray text = out.text();
            QVERIFY(text.contains("serviceFtp: requesting socket (passed)\n"
                                  "serviceFtp: binding socket (passed)\n"
                                  "serviceFtp: listening on socket (passed)\n"
                                  "serviceFtp: connection accepted from 192.168.7.9\n"));
        }
        {
            // No socket yet: tried again at every step.
            FakeFtpd fake;
            fake.failOpen = true;
            const uint8_t any[4] = {0, 0, 0, 0};
            ftpd_init(fake.platform(), any, 0);
            for (int i = 0; i < 3; ++i)
                ftpd_step();
            QCOMPARE(ftpd_state(), int(FTPD_ST_SOCKET));
            QCOMPARE(ftpd_error(), 0);
            fake.failOpen = false;
            fake.pendingClients = 1;
            drive(fake);
            QCOMPARE(int(fake.boundPort), 21);
        }
        {
            FakeFtpd fake;
            fake.bindError = 98;
            const uint8_t ip[4] = {10, 1, 2, 3};
            StdoutCapture out;
            ftpd_init(fake.platform(), ip, 2001);
            drive(fake);
            QCOMPARE(ftpd_error(), int(FTPD_ERR_BIND));
            QVERIFY(out.text().contains("(failed)\nerrorcode 98"));
            QVERIFY(fake.messages.isEmpty());
        }
        {
            FakeFtpd fake;
            fake.listenError = 95;
            const uint8_t ip[4] = {10, 1, 2, 3};
            ftpd_init(fake.platform(), ip, 2001);
            drive(fake);
            QCOMPARE(ftpd_error(), int(FTPD_ERR_LISTEN));
            ftpd_step();
            QVERIFY(fake.closedSockets.contains(FakeFtpd::ListenSock));
        }
    }

    void commandReplies_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray notImpl = "502 Command not implemented.\r\n";
        const QByteArray badParam = "504 Command not implemented for that parameter.\r\n";
        QTest::newRow("USER") << QByteArray("USER anyone") << QByteArray("331 User name okay, need password.\r\n");
        QTest::newRow("user lower") << QByteArray("user x") << QByteArray("331 User name okay, need password.\r\n");
        QTest::newRow("PASS") << QByteArray("PASS secret") << QByteArray("230 User logged in, proceed.\r\n");
        QTest::newRow("ACCT") << QByteArray("ACCT a") << QByteArray("202 Command not implemented, superfluous at this site.\r\n");
        QTest::newRow("ALLO") << QByteArray("ALLO 100") << QByteArray("200 File space allocated.\r\n");
        QTest::newRow("CDUP") << QByteArray("CDUP") << QByteArray("150 Current working directory is now \\\r\n");
        QTest::newRow("LIST") << QByteArray("LIST") << QByteArray("226 Transfer complete.\r\n");
        QTest::newRow("NLST") << QByteArray("nlst -a") << QByteArray("226 Transfer complete.\r\n");
        QTest::newRow("MKD") << QByteArray("MKD x") << QByteArray("550 Requested action not taken.\r\n");
        QTest::newRow("RMD") << QByteArray("RMD x") << QByteArray("550 Requested action not taken.\r\n");
        QTest::newRow("RNFR") << QByteArray("RNFR x") << QByteArray("550 Requested action not taken.\r\n");
        QTest::newRow("RNTO") << QByteArray("RNTO y") << QByteArray("503 Bad sequence of commands.\r\n");
        QTest::newRow("MODE S") << QByteArray("MODE S") << QByteArray("200 Mode set to S.\r\n");
        QTest::newRow("MODE s") << QByteArray("mode s") << QByteArray("200 Mode set to S.\r\n");
        QTest::newRow("MODE B") << QByteArray("MODE B") << badParam;
        QTest::newRow("STRU F") << QByteArray("STRU F") << QByteArray("200 STRU set to F.\r\n");
        QTest::newRow("STRU R") << QByteArray("STRU R") << badParam;
        QTest::newRow("TYPE A") << QByteArray("TYPE A") << QByteArray("200 TYPE set to A.\r\n");
        QTest::newRow("TYPE A N") << QByteArray("TYPE A N") << QByteArray("200 TYPE set to A.\r\n");
        QTest::newRow("TYPE I") << QByteArray("TYPE I") << QByteArray("200 TYPE set to I.\r\n");
        QTest::newRow("TYPE L") << QByteArray("TYPE L 8") << badParam;
        QTest::newRow("TYPE none") << QByteArray("TYPE") << badParam;
        QTest::newRow("NOOP") << QByteArray("NOOP") << QByteArray("200 Command okay.\r\n");
        QTest::newRow("SYST") << QByteArray("SYST") << QByteArray("215 UNIX Type: L8\r\n");
        QTest::newRow("ABOR") << QByteArray("ABOR") << notImpl;
        QTest::newRow("DELE") << QByteArray("DELE f") << notImpl;
        QTest::newRow("PASV") << QByteArray("PASV") << notImpl;
        QTest::newRow("PWD") << QByteArray("PWD") << notImpl;
        QTest::newRow("RETR") << QByteArray("RETR f") << notImpl;
        QTest::newRow("STAT") << QByteArray("STAT") << notImpl;
        QTest::newRow("unknown") << QByteArray("EPRT |1|127.0.0.1|5000|") << notImpl;
        QTest::newRow("name runs on") << QByteArray("USERS x") << notImpl;
        QTest::newRow("empty line") << QByteArray("") << notImpl;
        QTest::newRow("HELP SITE") << QByteArray("HELP site")
                                   << QByteArray("214-No SITE commands are recognized.\r\n"
                                                 "214 Type QUOTE HELP for additional information.\r\n");
        QTest::newRow("HELP") << QByteArray("HELP")
                              << QByteArray("214-The following commands are recognized:\r\n"
                                            "   ALLO  CDUP  HELP  LIST  MODE  NLST  NOOP  PASS  PORT\r\n"
                                            "   QUIT  STOR  STRU  SYST  TYPE  USER\r\n"
                                            "   Only mode S (stream) is supported.\r\n"
                                            "214 Type QUOTE HELP SITE for additional information.\r\n");
        QTest::newRow("QUIT") << QByteArray("QUIT") << QByteArray("221 Goodbye.\r\n");
    }

    void commandReplies()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, reply);
        FakeFtpd fake;
        login(fake);
        StdoutCapture out;
        QCOMPARE(say(fake, this, line), reply);
        const QByteArray text = out.text();
        QVERIFY(text.contains("netftpd_command: " + line + "\n"));
        if (!reply.startsWith("502"))
            QVERIFY2(text.contains("matches "), text.constData());
        if (line == "QUIT") {
            QCOMPARE(ftpd_state(), int(FTPD_ST_ACCEPT));
            QVERIFY(fake.closedSockets.contains(FakeFtpd::CtrlSock));
        } else {
            QCOMPARE(ftpd_state(), int(FTPD_ST_COMMAND));
        }
    }

    void matchPrintsTableIndex()
    {
        FakeFtpd fake;
        login(fake);
        StdoutCapture out;
        say(fake, this, "USER a");
        say(fake, this, "ABOR");
        const QByteArray text = out.text();
        QVERIFY(text.contains("matches USER (27)\n"));
        QVERIFY(text.contains("matches ABOR (0)\n"));
        QVERIFY(text.contains("netftpd_reply: 331 User name okay, need password.\n"));
    }

    void directoryRules()
    {
        FakeFtpd fake;
        login(fake);
        const QByteArray ok = "250 Directory change ok.\r\n";
        const QByteArray bad = "550 Invalid directory.\r\n";
        const QByteArray root = "150 Current working directory is now \\\r\n";
        // At the root both spellings lead into "config", in any case.
        QCOMPARE(say(fake, this, "CWD config"), ok);
        QCOMPARE(g_ftpd.at_root, 0);
        // Inside, only the absolute name; the rest is refused and changes nothing.
        QCOMPARE(say(fake, this, "CWD config"), bad);
        QCOMPARE(say(fake, this, "CWD /config"), ok);
        QCOMPARE(say(fake, this, "CWD /other"), bad);
        QCOMPARE(g_ftpd.at_root, 0);
        QCOMPARE(say(fake, this, "CWD ."), ok);
        QCOMPARE(say(fake, this, "CWD"), ok);
        QCOMPARE(g_ftpd.at_root, 0);
        QCOMPARE(say(fake, this, "CWD .."), root);
        QCOMPARE(g_ftpd.at_root, 1);
        QCOMPARE(say(fake, this, "CWD /CONFIG"), ok);
        QCOMPARE(say(fake, this, "CDUP"), root);
        QCOMPARE(say(fake, this, "CWD Config"), ok);
        QCOMPARE(say(fake, this, "CWD .."), root);
        QCOMPARE(say(fake, this, "CWD config/"), bad);
        QCOMPARE(say(fake, this, "CWD //config"), bad);
        QCOMPARE(say(fake, this, "CWD configs"), bad);
        QCOMPARE(g_ftpd.at_root, 1);
        // A new session starts at the root.
        say(fake, this, "CWD config");
        fake.pendingClients = 1;
        say(fake, this, "QUIT");
        QCOMPARE(ftpd_state(), int(FTPD_ST_COMMAND));
        QCOMPARE(g_ftpd.at_root, 1);
    }

    void portArgument()
    {
        uint8_t ip[4] = {0, 0, 0, 0};
        uint16_t port = 0;
        {
            StdoutCapture out;
            QCOMPARE(ftpd_parse_port("127,0,0,1,193,121", ip, &port), 0);
            QCOMPARE(QByteArray(reinterpret_cast<char *>(ip), 4), QByteArray("\x7f\0\0\x01", 4));
            QCOMPARE(int(port), 193 * 256 + 121);
            const QByteArray text = out.text();
            QVERIFY(text.contains("param[0] = 127\nparam[1] = 0\nparam[2] = 0\nparam[3] = 1\n"
                                  "param[4] = 193\nparam[5] = 121\n"));
        }
        // Empty positions count as 0; what follows the sixth number is ignored.
        QCOMPARE(ftpd_parse_port("10,,,5,,7 tail", ip, &port), 0);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(ip), 4), QByteArray("\x0a\0\0\x05", 4));
        QCOMPARE(int(port), 7);
        QCOMPARE(ftpd_parse_port(",,,,,", ip, &port), 0);
        QCOMPARE(ip[0], uint8_t(0));
        QCOMPARE(ftpd_parse_port("1,2,3,256,0,0", ip, &port), -1);
        QCOMPARE(ftpd_parse_port("1,2,3,4,5,99999999999999999999", ip, &port), -1);
        QCOMPARE(ftpd_parse_port("1,2,3,4,5", ip, &port), -1);
        QCOMPARE(ftpd_parse_port("1.2.3.4.5.6", ip, &port), -1);
        QCOMPARE(ftpd_parse_port("", ip, &port), -1);
        QCOMPARE(ftpd_parse_port("a,2,3,4,5,6", ip, &port), -1);

        // As a command: a refused PORT keeps the address an earlier one gave.
        FakeFtpd fake;
        login(fake);
        StdoutCapture out;
        QCOMPARE(say(fake, this, "PORT 192,168,7,9,4,1"), QByteArray("200 PORT command successful.\r\n"));
        QVERIFY(out.text().contains("data address: 192.168.7.9 1025\n"));
        QCOMPARE(say(fake, this, "PORT 192,168,7,9,4"), QByteArray("501 Syntax error in parameters or arguments.\r\n"));
        QCOMPARE(say(fake, this, "PORT 300,1,1,1,1,1"), QByteArray("501 Syntax error in parameters or arguments.\r\n"));
        QCOMPARE(int(g_ftpd.port_port), 1025);
        QCOMPARE(g_ftpd.port_ip[0], uint8_t(192));
    }

    void commandLineAssembly()
    {
        FakeFtpd fake;
        login(fake);
        // Several commands in one segment are all answered; a command split
        // over segments waits for its end.
        fake.control.push_back("NOOP\r\nSYST\r\nTY");
        fake.control.push_back("PE I\r");
        fake.control.push_back("\n");
        drive(fake);
        QCOMPARE(fake.takeSent(), QByteArray("200 Command okay.\r\n215 UNIX Type: L8\r\n200 TYPE set to I.\r\n"));

        // A bare CR or LF is part of the line.
        QCOMPARE(say(fake, this, "NO\rOP"), QByteArray("502 Command not implemented.\r\n"));
        QCOMPARE(say(fake, this, "\nNOOP"), QByteArray("502 Command not implemented.\r\n"));

        // 600 characters without a line end: refused once the 511th arrives,
        // and the rest starts a new line.
        {
            StdoutCapture out;
            fake.control.push_back(QByteArray(600, 'x'));
            drive(fake);
            QCOMPARE(fake.takeSent(), QByteArray("500 Command line too long.\r\n"));
            QVERIFY(out.text().contains("netftpd_rxcmd: command too long\n"));
            QCOMPARE(g_ftpd.line_len, 600 - 511);
            QCOMPARE(say(fake, this, ""), QByteArray("502 Command not implemented.\r\n"));
        }
        // 510 characters are a line; 511 are not.
        QCOMPARE(say(fake, this, "NOOP " + QByteArray(505, 'a')), QByteArray("200 Command okay.\r\n"));
        QCOMPARE(say(fake, this, "NOOP " + QByteArray(506, 'a')),
                 QByteArray("500 Command line too long.\r\n502 Command not implemented.\r\n"));
        // 510 characters and CR, then something else than LF: too long.
        fake.control.push_back("NOOP " + QByteArray(505, 'a') + "\rX\r\n");
        drive(fake);
        QCOMPARE(fake.takeSent(), QByteArray("500 Command line too long.\r\n502 Command not implemented.\r\n"));
        // A NUL ends what the command table sees of the line.
        QCOMPARE(say(fake, this, QByteArray("NOOP\0junk", 9)), QByteArray("200 Command okay.\r\n"));

        // Commands after STOR wait until the upload is over.
        say(fake, this, "CWD config");
        say(fake, this, "PORT 192,168,7,9,4,1");
        fake.data.push_back("abc");
        fake.data.push_back(FakeFtpd::closed());
        fake.control.push_back("STOR f\r\nNOOP\r\nQUIT\r\n");
        drive(fake);
        QCOMPARE(fake.takeSent(), QByteArray("150 Opening data connection.\r\n226 Transfer complete.\r\n"
                                             "200 Command okay.\r\n221 Goodbye.\r\n"));
        QCOMPARE(fake.stored.size(), 1);
    }

    void siteLocate()
    {
        FakeFtpd fake;
        login(fake);
        const QByteArray on = "200 Panel is now flashing.\r\n";
        const QByteArray off = "200 Panel is no longer flashing.\r\n";
        // One reply line each: the client's next reply is its own.
        QCOMPARE(say(fake, this, "SITE LOCATEON"), on);
        QCOMPARE(say(fake, this, "site locateon"), on);
        QCOMPARE(say(fake, this, "SITE LocateOn now"), on);
        QCOMPARE(fake.locates, (QList<int>{1, 1, 1}));
        QCOMPARE(fake.ledsOff, 0);
        QCOMPARE(say(fake, this, "SITE LOCATEOFF"), off);
        QCOMPARE(say(fake, this, "SITE UTIME 20240101000000 cfg"), off);
        QCOMPARE(say(fake, this, "SITE"), off);
        QCOMPARE(fake.locates, (QList<int>{1, 1, 1, 0, 0, 0}));
        QCOMPARE(fake.ledsOff, 3);
        QCOMPARE(say(fake, this, "NOOP"), QByteArray("200 Command okay.\r\n"));
    }

    void uploadIntoConfig()
    {
        FakeFtpd fake;
        login(fake);
        QByteArray payload;
        for (int i = 0; i < 5000; ++i)
            payload.append(char('A' + i % 26));
        say(fake, this, "CWD config");
        StdoutCapture out;
        QCOMPARE(upload(fake, payload), QByteArray("200 PORT command successful.\r\n"
                                                   "150 Opening data connection.\r\n"
                                                   "226 Transfer complete.\r\n"));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(fake.connectIp), 4), QByteArray("\xc0\xa8\x07\x09", 4));
        QCOMPARE(int(fake.connectPort), 1025);
        QCOMPARE(int(fake.boundDataPort), 14022);
        QCOMPARE(fake.closedSockets.size(), 1); // the data socket
        // Nothing is stored before the session ends.
        QVERIFY(fake.stored.isEmpty());
        say(fake, this, "QUIT");
        QCOMPARE(fake.stored.size(), 1);
        QCOMPARE(fake.stored[0].size(), payload.size() + 10);
        QCOMPARE(fake.stored[0].left(10), QByteArray("CONFIG\0\0\0\0", 10));
        QCOMPARE(fake.stored[0].mid(10), payload);
        const QByteArray text = out.text();
        QVERIFY(text.contains("serviceFtp: data session with 192.168.7.9 opened\n"));
        QVERIFY(text.contains("netftpd_rxdata: client closed session\n"));

        // The last upload of a session counts; a client that leaves without
        // QUIT still has it stored.
        fake.pendingClients = 1;
        fake.stored.clear();
        drive(fake);
        say(fake, this, "CWD /config");
        upload(fake, "first");
        upload(fake, "second");
        fake.control.push_back(FakeFtpd::closed());
        drive(fake);
        QCOMPARE(fake.stored, QList<QByteArray>{QByteArray("CONFIG\0\0\0\0second", 16)});

        // An empty upload is a file of its header alone.
        fake.pendingClients = 1;
        fake.stored.clear();
        drive(fake);
        say(fake, this, "CWD config");
        upload(fake, QByteArray());
        say(fake, this, "QUIT");
        QCOMPARE(fake.stored, QList<QByteArray>{QByteArray("CONFIG\0\0\0\0", 10)});
    }

    // An upload that cannot be written is answered 452 (a full disk) or
    // 451 (any other failure) instead of 226, and nothing replaces the
    // configuration; a new upload drops the one staged before it.
    void uploadThatCannotBeWritten()
    {
        FakeFtpd fake;
        login(fake);
        say(fake, this, "CWD config");
        fake.stageResult = FTPD_STORE_NO_SPACE;
        QCOMPARE(upload(fake, "full"),
                 QByteArray("200 PORT command successful.\r\n150 Opening data connection.\r\n"
                            "452 Requested action not taken. Insufficient storage space in system.\r\n"));
        fake.stageResult = FTPD_STORE_FAILED;
        QVERIFY(upload(fake, "broken").endsWith("\r\n451 Requested action aborted: local error in processing.\r\n"));
        say(fake, this, "QUIT");
        QVERIFY(fake.stored.isEmpty());

        fake.pendingClients = 1;
        drive(fake);
        say(fake, this, "CWD config");
        fake.stageResult = FTPD_STORE_OK;
        QVERIFY(upload(fake, "first").endsWith("226 Transfer complete.\r\n"));
        upload(fake, "second");
        QCOMPARE(fake.dropped, 1);
        say(fake, this, "QUIT");
        QCOMPARE(fake.stored, QList<QByteArray>{QByteArray("CONFIG\0\0\0\0second", 16)});
    }

    void uploadsThatAreNotStored()
    {
        FakeFtpd fake;
        login(fake);
        {
            // STOR without PORT.
            StdoutCapture out;
            QCOMPARE(say(fake, this, "STOR cfg"), QByteArray("425 Can't open data connection.\r\n"));
            QVERIFY(out.text().contains("no port cmd rxd before stor\n"));
            QCOMPARE(fake.opens, 1);
        }
        {
            // At the root: the client sees 226, nothing is stored.
            StdoutCapture out;
            QVERIFY(upload(fake, "image").endsWith("226 Transfer complete.\r\n"));
            say(fake, this, "QUIT");
            QVERIFY(fake.stored.isEmpty());
            QVERIFY(out.text().contains("Invalid panel image file, please try again...\n"));
        }
        {
            // A session without an upload stores nothing either.
            fake.pendingClients = 1;
            drive(fake);
            say(fake, this, "CWD config");
            say(fake, this, "QUIT");
            QVERIFY(fake.stored.isEmpty());
        }
    }

    void oversizeUploadIsRefused()
    {
        FakeFtpd fake;
        login(fake);
        say(fake, this, "CWD config");
        // The largest file a configuration may be is accepted...
        const QByteArray largest(FTPD_UPLOAD_MAX - 10, 'p');
        QVERIFY(upload(fake, largest).endsWith("226 Transfer complete.\r\n"));
        // ...one byte more is refused, reading stops, and the refused upload
        // also ends the one before it in the buffer.
        StdoutCapture out;
        const QByteArray replies = upload(fake, largest + "q");
        QVERIFY2(replies.endsWith("552 Requested file action aborted. Exceeded storage allocation.\r\n"),
                 replies.constData());
        QVERIFY(!replies.contains("226"));
        QVERIFY(!fake.data.empty()); // the end of the data was never read
        fake.data.clear();
        QCOMPARE(say(fake, this, "NOOP"), QByteArray("200 Command okay.\r\n"));
        say(fake, this, "QUIT");
        QVERIFY(fake.stored.isEmpty());
        QVERIFY(out.text().contains("serviceFtp: upload larger than 131071 bytes refused\n"));

        // At the root the same limit holds.
        fake.pendingClients = 1;
        drive(fake);
        QVERIFY(upload(fake, QByteArray(FTPD_UPLOAD_MAX + 1, 'r')).contains("552 "));
        QCOMPARE(ftpd_error(), 0);
    }

    void dataConnectionFailuresEndOnlyTheTransfer()
    {
        FakeFtpd fake;
        login(fake);
        say(fake, this, "CWD config");
        {
            // Refused connect.
            StdoutCapture out;
            fake.connectResults = {FTPD_NET_PENDING, 111};
            QCOMPARE(upload(fake, "x"), QByteArray("200 PORT command successful.\r\n"
                                                   "425 Can't open data connection.\r\n"));
            QVERIFY(out.text().contains("serviceFtp: error 111 on data connect\n"));
            QCOMPARE(ftpd_error(), 0);
            QCOMPARE(ftpd_client_error(), int(FTPD_ERR_DATA_CONNECT));
            QCOMPARE(ftpd_state(), int(FTPD_ST_COMMAND));
            fake.data.clear();
        }
        {
            // No connection within 5 s.
            StdoutCapture out;
            fake.connectResults = std::deque<int>(400, FTPD_NET_PENDING);
            const uint32_t start = m_now;
            QVERIFY(upload(fake, "x").endsWith("425 Can't open data connection.\r\n"));
            QVERIFY(m_now - start > 5000);
            QVERIFY(m_now - start < 5200);
            QVERIFY(out.text().contains("serviceFtp: timed out waiting for data connect\n"));
            fake.connectResults.clear();
            fake.data.clear();
        }
        {
            // Data stops for more than 5 s: 451 with 3.
            StdoutCapture out;
            fake.connectCalls = 0;
            fake.data = {"abc"};
            QVERIFY(say(fake, this, "PORT 192,168,7,9,4,1").startsWith("200"));
            QCOMPARE(say(fake, this, "STOR f"), QByteArray("150 Opening data connection.\r\n"
                                                           "451 Requested file action aborted, internal error 3.\r\n"));
            QVERIFY(out.text().contains("serviceFtp: timed out waiting for data\n"));
        }
        {
            // A receive error.
            StdoutCapture out;
            fake.connectCalls = 0;
            fake.data = {"abc", FakeFtpd::error(104)};
            QVERIFY(say(fake, this, "STOR f").endsWith("451 Requested file action aborted, internal error 104.\r\n"));
            QVERIFY(out.text().contains("serviceFtp: socket error 104\n"));
            QCOMPARE(ftpd_error(), 0);
            QCOMPARE(ftpd_client_error(), int(FTPD_ERR_DATA_RECV));
        }
        {
            // A socket for the data connection cannot be had.
            fake.failOpen = true;
            QCOMPARE(say(fake, this, "STOR f"), QByteArray("425 Can't open data connection.\r\n"));
            fake.failOpen = false;
        }
        // None of it was stored, and the next upload works.
        say(fake, this, "QUIT");
        QVERIFY(fake.stored.isEmpty());
        fake.pendingClients = 1;
        drive(fake);
        say(fake, this, "CWD config");
        fake.connectCalls = 0;
        QVERIFY(upload(fake, "good").endsWith("226 Transfer complete.\r\n"));
        say(fake, this, "QUIT");
        QCOMPARE(fake.stored, QList<QByteArray>{QByteArray("CONFIG\0\0\0\0good", 14)});

        // A failed upload after a good one leaves nothing half-written.
        fake.pendingClients = 1;
        fake.stored.clear();
        drive(fake);
        say(fake, this, "CWD config");
        fake.connectCalls = 0;
        upload(fake, "good");
        fake.connectCalls = 0;
        fake.data = {"par", FakeFtpd::error(104)};
        say(fake, this, "STOR f");
        say(fake, this, "QUIT");
        QVERIFY(fake.stored.isEmpty());
    }

    // PORT names the client itself (192.168.7.9 in the fake) and a port of
    // 1024 or above: another host or a service port is refused, and the
    // refused address is not used by the next STOR.
    void portOnlyToTheClientItself()
    {
        FakeFtpd fake;
        login(fake);
        const QByteArray refused("504 Command not implemented for that parameter.\r\n");
        QCOMPARE(say(fake, this, "PORT 127,0,77,50,17,92"), refused);
        QCOMPARE(say(fake, this, "PORT 192,168,7,9,0,21"), refused);
        QCOMPARE(say(fake, this, "PORT 192,168,7,9,3,255"), refused);
        QCOMPARE(say(fake, this, "STOR cfg"), QByteArray("425 Can't open data connection.\r\n"));
        QCOMPARE(fake.connectCalls, 0);
        QCOMPARE(say(fake, this, "PORT 192,168,7,9,4,0"), QByteArray("200 PORT command successful.\r\n"));
    }

    // The one client at a time cannot hold the server: a control
    // connection without a command for 60 s is closed with 421 (59 s is
    // fine), an upload that trickles in ends after 60 s in all, and a
    // reply the client does not take ends the session; each time the next
    // client is served.
    void clientsThatHoldTheServerAreEnded()
    {
        FakeFtpd fake;
        fake.clock = &m_now;
        login(fake);
        fake.control.push_back(FakeFtpd::quiet(59000));
        QCOMPARE(say(fake, this, "NOOP"), QByteArray("200 Command okay.\r\n"));
        fake.control.push_back(FakeFtpd::quiet(60000));
        for (int i = 0; i < 10 && ftpd_state() == FTPD_ST_COMMAND; ++i) {
            ftpd_step();
            m_now += 25;
        }
        fake.control.clear(); // what is left of the silence
        fake.pendingClients = 1;
        drive(fake);
        QVERIFY(fake.takeSent().startsWith("421 No command for 60 seconds, closing control connection.\r\n"
                                           "220-Pellam FTP Server.\r\n"));
        QVERIFY(fake.closedSockets.contains(FakeFtpd::CtrlSock));
        QCOMPARE(ftpd_state(), int(FTPD_ST_COMMAND));

        // One byte every 4 s, never 5 s without data.
        say(fake, this, "CWD config");
        say(fake, this, "PORT 192,168,7,9,4,1");
        for (int i = 0; i < 30; ++i) {
            fake.data.push_back(FakeFtpd::quiet(4000));
            fake.data.push_back("x");
        }
        fake.data.push_back(FakeFtpd::closed());
        const uint32_t start = m_now;
        const QByteArray replies = say(fake, this, "STOR cfg");
        QVERIFY2(replies.endsWith("426 Connection closed; transfer aborted, upload took longer than 60 seconds.\r\n"),
                 replies.constData());
        QVERIFY(m_now - start < 65000);
        fake.data.clear();
        say(fake, this, "QUIT");
        QVERIFY(fake.stored.isEmpty());

        // Two commands at once; the first reply cannot be sent.
        fake.pendingClients = 1;
        drive(fake);
        fake.takeSent();
        fake.sendError = 110;
        fake.control.push_back("NOOP\r\nNOOP\r\n");
        drive(fake);
        QCOMPARE(fake.takeSent().count("200 Command okay."), 1);
        QCOMPARE(ftpd_state(), int(FTPD_ST_ACCEPT));
        fake.sendError = 0;
        fake.pendingClients = 1;
        drive(fake);
        QCOMPARE(ftpd_state(), int(FTPD_ST_COMMAND));
    }

    void failuresOfTheServerItself()
    {
        {
            // The data port cannot be bound: a bind failure like the
            // control port's, which ends the service.
            FakeFtpd fake;
            login(fake);
            fake.dataBindError = 98;
            QVERIFY(upload(fake, "x").endsWith("425 Can't open data connection.\r\n"));
            QCOMPARE(ftpd_error(), int(FTPD_ERR_BIND));
        }
        {
            // The banner cannot be sent: the session closes, the next client
            // is served.
            FakeFtpd fake;
            const uint8_t ip[4] = {10, 1, 2, 3};
            ftpd_init(fake.platform(), ip, 2001);
            fake.sendError = 32;
            fake.pendingClients = 1;
            StdoutCapture out;
            drive(fake);
            QVERIFY(out.text().contains("serviceFtp: unable to send banner\n"));
            QCOMPARE(ftpd_state(), int(FTPD_ST_ACCEPT));
            fake.sendError = 0;
            fake.pendingClients = 1;
            drive(fake);
            QCOMPARE(ftpd_state(), int(FTPD_ST_COMMAND));
        }
        {
            // A receive error on the control connection ends the session.
            FakeFtpd fake;
            login(fake);
            StdoutCapture out;
            fake.control.push_back(FakeFtpd::error(104));
            drive(fake);
            QCOMPARE(ftpd_state(), int(FTPD_ST_ACCEPT));
            const QByteArray text = out.text();
            QVERIFY(text.contains("netftpd_rxcmd: socket error 104\nftpService: rxcmd drop sess\n"));
        }
        {
            // An unknown state closes everything and starts over.
            FakeFtpd fake;
            login(fake);
            g_ftpd.state = 14;
            StdoutCapture out;
            ftpd_step();
            QVERIFY(out.text().contains("serviceFtp: unknown state\n"));
            QCOMPARE(ftpd_state(), int(FTPD_ST_SOCKET));
            QVERIFY(fake.closedSockets.contains(FakeFtpd::ListenSock));
            QVERIFY(fake.closedSockets.contains(FakeFtpd::CtrlSock));
        }
    }

    // A stop wakes the service; the transfer it interrupts is no upload.
    void stopDuringUploadStoresNothing()
    {
        FakeFtpd fake;
        login(fake);
        say(fake, this, "CWD config");
        say(fake, this, "PORT 192,168,7,9,4,1");
        fake.data = {"partial", FakeFtpd::nothing(), FakeFtpd::nothing()};
        fake.control.push_back("STOR f\r\n");
        for (int i = 0; i < 10; ++i)
            ftpd_step();
        QCOMPARE(ftpd_state(), int(FTPD_ST_DATA_RECV));
        ftpd_stop();
        QVERIFY(fake.shutDown);
        // What a shut-down socket reports: the peer is gone.
        fake.data = {FakeFtpd::closed()};
        fake.control = {FakeFtpd::closed()};
        for (int i = 0; i < 10; ++i)
            ftpd_step();
        QVERIFY(!fake.takeSent().contains("226"));
        QVERIFY(fake.stored.isEmpty());
        // An upload the client had finished is stored when the service
        // ends, as at the end of its session.
        fake.pendingClients = 1;
        fake.opens = 0;
        fake.closedSockets.clear();
        const uint8_t ip2[4] = {10, 1, 2, 3};
        ftpd_init(fake.platform(), ip2, 2001);
        drive(fake);
        say(fake, this, "CWD config");
        QVERIFY(upload(fake, "done").endsWith("226 Transfer complete.\r\n"));
        ftpd_stop();
        ftpd_finish();
        QCOMPARE(fake.stored, QList<QByteArray>{QByteArray("CONFIG\0\0\0\0done", 14)});
        QVERIFY(fake.closedSockets.contains(FakeFtpd::ListenSock));
        QVERIFY(fake.closedSockets.contains(FakeFtpd::CtrlSock));
        ftpd_finish();
        QCOMPARE(fake.stored.size(), 1);

        // A new start forgets the stop.
        const uint8_t ip[4] = {10, 1, 2, 3};
        ftpd_init(fake.platform(), ip, 2001);
        QVERIFY(!fake.shutDown);
    }
};

QTEST_GUILESS_MAIN(TestFtpd)
#include "tst_ftpd.moc"
