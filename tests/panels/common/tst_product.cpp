// The product table and the product check on the start block's name.

#include "product.h"

#include <QTest>
#include <cstring>

class TestProduct : public QObject
{
    Q_OBJECT

    static int find(const char *name)
    {
        // The start block's 20-byte field, zero-padded, maybe unterminated.
        char field[PROD_NAME_LEN + 8];
        memset(field, 0, sizeof field);
        memcpy(field, name, std::min(strlen(name), sizeof field));
        return prod_find(field);
    }

private slots:
    void productCheck()
    {
        QCOMPARE(find("SK2000A"), 11);
        QCOMPARE(find("SK-2000A"), 11);  // dashes are dropped
        QCOMPARE(find("S-K-1-3-0-0-A"), 10);
        QCOMPARE(find(""), 0);           // compared over zero characters
        QCOMPARE(find("SK1"), 0);        // first name starting with it
        QCOMPARE(find("SK17"), 9);
        QCOMPARE(find("sk2000a"), PROD_NONE);
        QCOMPARE(find("SK2000B"), PROD_NONE);
        QCOMPARE(find("SK2000AX"), PROD_NONE);

        // Only the first 20 bytes count: a longer name (here 25 characters)
        // is compared over its first 20 only, and 20 dashes leave nothing.
        QCOMPARE(find("SK2000A-------------XXXXX"), 11);
        QCOMPARE(find("--------------------SK2000A"), 0);
        char unterminated[PROD_NAME_LEN] = {'S', 'K', '1', '5', '0', '0', 'A', '-', '-', '-',
                                            '-', '-', '-', '-', '-', '-', '-', '-', '-', '-'};
        QCOMPARE(prod_find(unterminated), 2);
    }

    void derivedNumbers()
    {
        struct Row {
            const char *name;
            int code, buttons, menu, extra, reset1, reset2, status, version, comms, ip, setup;
        };
        const Row rows[] = {
            {"SK1100A", 24, 16, 0, 0, 1, 16, 1, 4, 15, -1, 16},
            {"SK1400A", 25, 32, 0, 0, 17, 32, 1, 4, 31, -1, 32},
            {"SK1500A", 26, 48, 0, 0, 33, 48, 1, 4, 47, -1, 48},
            {"SK1600A", 28, 29, 1, 0, 5, 29, 0, -1, 1, -1, -1},
            {"SK1200A", 29, 20, 1, 0, 1, 20, 255, -1, 255, -1, -1},
            {"SK1800A", 30, 40, 1, 0, 21, 40, 255, -1, 255, -1, -1},
            {"SK2100A", 31, 80, 1, 0, 61, 80, 255, -1, 255, -1, -1},
            {"SK1900A", 32, 40, 1, 0, 25, 40, 0, 3, 4, 6, -1},
            {"SK2200A", 33, 44, 1, 8, 4, 44, 0, 1, 4, 5, -1},
            {"SK1700A", 34, 64, 1, 0, 12, 36, 0, 3, 4, 5, -1},  // 36 + 28
            {"SK1300A", 35, 48, 0, 0, 33, 48, 1, 4, 46, -1, 48}, // 32 + 16
            {"SK2000A", 36, 47, 1, 1, 5, 47, 0, 1, 2, -1, -1},
        };
        for (int i = 0; i < PROD_COUNT; ++i) {
            const Row &r = rows[i];
            prod_select(i);
            QCOMPARE(prod_current(), i);
            QCOMPARE(prod_name(), r.name);
            QCOMPARE(int(prod_code()), r.code);
            QCOMPARE(prod_button_count(), r.buttons);
            QCOMPARE(int(prod_menu_model()), r.menu);
            QCOMPARE(prod_extra_lamps(), r.extra);
            QCOMPARE(prod_reset_key1(), r.reset1);
            QCOMPARE(prod_reset_key2(), r.reset2);
            QCOMPARE(int(prod_status_pos()), r.status);
            QCOMPARE(prod_version_pos(), r.version);
            QCOMPARE(int(prod_comms_pos()), r.comms);
            QCOMPARE(prod_ip_pos(), r.ip);
            QCOMPARE(prod_setup_button(), r.setup);
        }

        // No product: name NONAME, zeros for code, count and menu flag, -1
        // (255 for the single-byte positions) for the rest.
        prod_select(PROD_NONE);
        QCOMPARE(prod_name(), "NONAME");
        QCOMPARE(int(prod_code()), 0);
        QCOMPARE(prod_button_count(), 0);
        QCOMPARE(int(prod_menu_model()), 0);
        QCOMPARE(prod_extra_lamps(), -1);
        QCOMPARE(prod_reset_key1(), -1);
        QCOMPARE(int(prod_status_pos()), 255);
        QCOMPARE(prod_setup_button(), -1);
        prod_select(12);
        QCOMPARE(prod_current(), int(PROD_NONE));
    }
};

QTEST_GUILESS_MAIN(TestProduct)
#include "tst_product.moc"
