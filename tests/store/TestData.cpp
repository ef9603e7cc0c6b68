#include <QtTest>
#include <memory>
#include <random>
#include <set>

#include "Data.h"
#include "DataHandler.h"
#include "Schema.h"
#include "Settings.h"

// Records every event it is told about as a line of text.
class Recorder : public DataHandler
{
public:
    QStringList events;
    std::function<void(ItemPtr)> onItem;
    std::function<void(ConnectionInfo&)> onConnection;

    void Added(ItemPtr i)
    {
        events << "added " + Name(i);
        if (onItem)
            onItem(i);
    }
    void Removed(ItemPtr i)
    {
        events << "removed " + Name(i) + " linked " + QString::number(i.GetItems("b").size());
        if (onItem)
            onItem(i);
    }
    void Connected(ConnectionInfo& c)
    {
        events << "connected " + Name(c.item1) + "-" + Name(c.item2);
        if (onConnection)
            onConnection(c);
    }
    void Disconnected(ConnectionInfo& c) { events << "disconnected " + Name(c.item1) + "-" + Name(c.item2); }
    void Pair(ConnectionInfo& c) { events << "pair " + Name(c.item1) + "-" + Name(c.item2); }
    void Path(ItemPtr i)
    {
        events << "path " + Name(i);
        if (onItem)
            onItem(i);
    }
    void Path2(ItemPtr i) { events << "path2 " + Name(i); }

    static QString Name(ItemPtr i)
    {
        return QString::fromStdString(i.GetType()->GetName()) + ":" +
               (i.GetType()->IsNull() ? QString::number(i.Sequence()) : i.AsString());
    }
    ItemEventHandler* H(void (Recorder::*m)(ItemPtr)) { return new EventHandler<Recorder, ItemPtr>(this, m); }
    ConnectionEventHandler* C(void (Recorder::*m)(ConnectionInfo&))
    {
        return new EventHandler<Recorder, ConnectionInfo&>(this, m);
    }
};

class TestData : public QObject
{
    Q_OBJECT

    Type* a;
    Type* b;
    Type* c;
    Type* mark;

private slots:
    void init()
    {
        d.Reset();
        a = d.NewType("a", 0, false, true);
        b = d.NewType("b", 1, false, false);
        c = d.NewType("c", 2, false, true);
        mark = d.NewType("mark", 2, true, false);
        a->RelateToType(b, many, many, false); // a holds many b, b holds many a
        b->RelateToType(c, many, one, false);  // b holds one c, c holds many b
        a->RelateToType(mark, many, one, false);
    }

    void typesValuesAndErrors()
    {
        bool thrown = false;
        try {
            d.NewType("a", 0, false, false);
        } catch (TypeAlreadyExistsException* e) {
            thrown = true;
            delete e;
        }
        QVERIFY(thrown);
        thrown = false;
        try {
            d.GetType("nope");
        } catch (TypeNotFoundException* e) {
            thrown = true;
            delete e;
        }
        QVERIFY(thrown);
        QVERIFY(!d.HasType("nope"));
        thrown = false;
        try {
            a->RelateToType(b, one, one, false);
        } catch (AlreadyRelatedException* e) {
            thrown = true;
            delete e;
        }
        QVERIFY(thrown);
        thrown = false;
        try {
            a->GetItem("x") += c->GetItem("y");
        } catch (NotRelatedException* e) {
            thrown = true;
            delete e;
        }
        QVERIFY(thrown);
        thrown = false;
        try {
            mark->GetItem("x");
        } catch (NullTypeException* e) {
            thrown = true;
            delete e;
        }
        QVERIFY(thrown);
        thrown = false;
        try {
            a->NewItem();
        } catch (NullTypeException* e) {
            thrown = true;
            delete e;
        }
        QVERIFY(thrown);
        thrown = false;
        try {
            d.AddConnectionEventHandler(a, c, nullptr);
        } catch (NotRelatedException* e) {
            thrown = true;
            delete e;
        }
        QVERIFY(thrown);

        // Unique by value; only auto-create types create on look-up.
        ItemPtr x = a->GetItem("x");
        QCOMPARE(a->GetItem("x"), x);
        QCOMPARE(a->HasItem("x"), x);
        QVERIFY(!a->HasItem("y"));
        QCOMPARE(a->Count(), size_t(1));
        QVERIFY(!b->GetItem("z"));
        QVERIFY(b->NewItem("z"));
        QCOMPARE(b->NewItem("z"), b->HasItem("z"));

        // Numbers, bad numbers, null handles and addresses.
        QCOMPARE(a->GetItem(Value(-42)).AsInt(), -42);
        QCOMPARE(a->GetItem(Value(quint64(18446744073709551615ULL))).AsUInt64(), quint64(18446744073709551615ULL));
        QCOMPARE(a->GetItem(Value(qint64(-5000000000LL))).AsInt64(), qint64(-5000000000LL));
        QCOMPARE(a->GetItem("12abc").AsInt(), 0);
        QCOMPARE(a->GetItem("-3").AsUInt64(), quint64(0));
        ItemPtr none;
        QCOMPARE(none.AsString(), QString());
        QCOMPARE(none.AsInt(), 0);
        QVERIFY(!none["b"]);
        QVERIFY(none.GetItems("b").empty());
        none.Remove();
        QObject object;
        QCOMPARE(a->GetItem(Value(&object)).AsObject<QObject>(), &object);
        QCOMPARE(a->GetItem(QString::fromUtf8("h\xc3\xa9")).AsStdString(), std::string("h\xc3\xa9"));
    }

    void oneEndReplacesAndEventOrder()
    {
        Recorder r;
        b->AddConnectedHandler(r.C(&Recorder::Connected));
        c->AddConnectedHandler(r.C(&Recorder::Connected));
        b->AddDisconnectedHandler(r.C(&Recorder::Disconnected));
        d.AddConnectionEventHandler(c, b, r.C(&Recorder::Pair));
        PathNode* root = new PathNode(&d, "b");
        new PathNode(root, "c", 0);
        d.AddPathEventHandler(root, r.H(&Recorder::Path));

        ItemPtr item = b->NewItem("1");
        item += c->GetItem("old");
        r.events.clear();
        ItemPtr result = (item += c->GetItem("new"));
        QCOMPARE(result, c->HasItem("new"));
        QCOMPARE(r.events, QStringList({"disconnected b:1-c:old", "connected b:1-c:new", "connected c:new-b:1",
                                        "pair c:new-b:1", "path b:1"}));
        QCOMPARE(item["c"].AsString(), QString("new"));
        QVERIFY(!c->HasItem("old").IsConnected(item));

        // Connecting what is connected already changes nothing and says nothing.
        r.events.clear();
        item += c->HasItem("new");
        c->HasItem("new") += item;
        QVERIFY(r.events.isEmpty());

        // Many ends keep every connection.
        ItemPtr x = a->GetItem("x");
        x += b->NewItem("2");
        x += item;
        QCOMPARE(x.GetItems("b").size(), size_t(2));
        x -= item;
        QCOMPARE(x.GetItems("b").size(), size_t(1));
        QVERIFY(!item.IsConnected(x));
    }

    void removeRunsHandlersWhileReadable()
    {
        Recorder r;
        a->AddItemRemovedHandler(r.H(&Recorder::Removed));
        b->AddDisconnectedHandler(r.C(&Recorder::Disconnected));
        d.AddItemRemovedHandler(r.H(&Recorder::Removed));
        ItemPtr x = a->GetItem("x");
        x += b->NewItem("1");
        x += b->NewItem("2");
        bool inSetDuringHandler = true;
        r.onItem = [&](ItemPtr i) { inSetDuringHandler = a->GetItems().contains(i); };
        x.Remove();
        QCOMPARE(r.events, QStringList({"removed a:x linked 2", "removed a:x linked 2", "disconnected b:1-a:x",
                                        "disconnected b:2-a:x"}));
        QVERIFY(!inSetDuringHandler);
        QVERIFY(!a->HasItem("x"));
        QVERIFY(b->HasItem("1").IsDisconnectedFromAll());
    }

    void reentrantHandlers()
    {
        // A handler that removes the item it is told about, while a second
        // handler of the same event still runs safely after it.
        Recorder remover;
        Recorder after;
        b->AddConnectedHandler(remover.C(&Recorder::Connected));
        b->AddConnectedHandler(after.C(&Recorder::Connected));
        remover.onConnection = [](ConnectionInfo& info) { info.item1.Remove(); };
        ItemPtr x = a->GetItem("x");
        x += b->NewItem("doomed");
        QVERIFY(!b->HasItem("doomed"));
        QVERIFY(x.GetItems("b").empty());
        QCOMPARE(after.events, QStringList({"connected b:doomed-a:x"}));

        // A handler that destroys its own object: its later handlers never run.
        d.Reset();
        init();
        auto* victim = new Recorder;
        Recorder witness;
        a->AddItemAddedHandler(victim->H(&Recorder::Added));
        a->AddItemAddedHandler(witness.H(&Recorder::Added));
        a->AddItemAddedHandler(victim->H(&Recorder::Path2));
        victim->onItem = [victim](ItemPtr) { delete victim; };
        a->GetItem("one");
        QCOMPARE(witness.events, QStringList({"added a:one"}));
        a->GetItem("two");
        QCOMPARE(witness.events, QStringList({"added a:one", "added a:two"}));

        // Handlers registered during a dispatch wait for the next event.
        Recorder late;
        Recorder registrar;
        registrar.onItem = [&](ItemPtr) {
            if (late.events.isEmpty() && registrar.events.size() == 1)
                a->AddItemAddedHandler(late.H(&Recorder::Added));
        };
        a->AddItemAddedHandler(registrar.H(&Recorder::Added));
        a->GetItem("three");
        QVERIFY(late.events.isEmpty());
        a->GetItem("four");
        QCOMPARE(late.events, QStringList({"added a:four"}));

        // A removal handler that removes other items and creates new ones.
        Recorder chain;
        a->AddItemRemovedHandler(chain.H(&Recorder::Removed));
        chain.onItem = [](ItemPtr i) {
            if (i.AsString() == "three")
                a_type()->HasItem("four").Remove();
            b_type()->NewItem("made during removal");
        };
        g("a").Remove();
        QCOMPARE(d.GetType("a")->Count(), size_t(0));
        QVERIFY(b->HasItem("made during removal"));
    }

    static Type* a_type() { return d.GetType("a"); }
    static Type* b_type() { return d.GetType("b"); }

    void newItemOnHolders()
    {
        Type* many_ = d.NewType("entry", 0, true, false);
        Type* one_ = d.NewType("status", 2, true, false);
        Type* solo = d.NewType("own", 2, true, false);
        many_->RelateToType(mark, many, many, false);
        many_->RelateToType(one_, many, one, false); // marker shared by many entries
        many_->RelateToType(solo, one, one, false);  // each entry its own
        ItemPtr e1 = many_->NewItem();
        ItemPtr e2 = many_->NewItem();
        QVERIFY(e1 != e2);
        // Holds many: a new item each time.
        QVERIFY(e1.NewItem("mark") != e1.NewItem("mark"));
        QCOMPARE(e1.GetItems("mark").size(), size_t(2));
        // Holds one, other end many: the shared global item.
        ItemPtr s1 = e1.NewItem("status");
        QCOMPARE(s1, one_->GetGlobalNullItem());
        QCOMPARE(e2.NewItem("status"), s1);
        QCOMPARE(e1.NewItem("status"), s1);
        // Holds one, other end one: a new item, then the held one.
        ItemPtr o1 = e1.NewItem("own");
        QVERIFY(o1 != e2.NewItem("own"));
        QCOMPARE(e1.NewItem("own"), o1);
        bool thrown = false;
        try {
            e1.NewItem("c");
        } catch (NullTypeException* e) {
            thrown = true;
            delete e;
        } catch (NotRelatedException* e) {
            delete e;
        }
        QVERIFY(thrown);
    }

    void pathRelations()
    {
        Type* user = d.NewType("user", 0, false, true);
        Type* online = d.NewType("is_online", 2, true, false);
        Type* address = d.NewType("user_address", 2, false, true);
        Type* room = d.NewType("room", 0, false, true);
        user->RelateToType(online, many, one, false);
        user->RelateToType(address, many, one, false);
        room->RelateToType(user, many, many, false);
        Recorder r;

        // 0: fires on each connection along the step while the pattern holds.
        PathNode* p0 = new PathNode(&d, "user");
        new PathNode(p0, "is_online", 0);
        d.AddPathEventHandler(p0, r.H(&Recorder::Path));
        ItemPtr ann = user->GetItem("ann");
        ann.NewItem("is_online");
        QCOMPARE(r.events, QStringList({"path user:ann"}));
        ann.Disconnect("is_online");
        QCOMPARE(r.events.size(), 1);

        // 2 beside a 1-condition: fires only through the 2-step, and only
        // while the condition holds.
        r.events.clear();
        PathNode* p2 = new PathNode(&d, "user");
        new PathNode(p2, "user_address", 2);
        new PathNode(p2, "is_online", 1);
        d.AddPathEventHandler(p2, r.H(&Recorder::Path2));
        ann += address->GetItem("1.2.3.4");
        QVERIFY(r.events.isEmpty()); // offline
        ann.NewItem("is_online");
        QCOMPARE(r.events, QStringList({"path user:ann"})); // only the 0-pattern
        ann += address->GetItem("5.6.7.8");
        QCOMPARE(r.events, QStringList({"path user:ann", "path2 user:ann"}));

        // 3 on a last step: a disconnection that leaves none raises it.
        r.events.clear();
        Recorder r3;
        PathNode* p3 = new PathNode(&d, "user");
        new PathNode(p3, "is_online", 3);
        d.AddPathEventHandler(p3, r3.H(&Recorder::Path));
        ann.Disconnect("is_online");
        QCOMPARE(r3.events, QStringList({"path user:ann"}));
        // 4 as a condition: a 0-step fires only while the 4-step holds none.
        Recorder r4;
        PathNode* p4 = new PathNode(&d, "user");
        new PathNode(p4, "user_address", 0);
        new PathNode(p4, "is_online", 4);
        d.AddPathEventHandler(p4, r4.H(&Recorder::Path));
        ann += address->GetItem("9.9.9.9");
        QCOMPARE(r4.events, QStringList({"path user:ann"}));
        ann.NewItem("is_online");
        ann += address->GetItem("1.1.1.1");
        QCOMPARE(r4.events.size(), 1);

        // 5: only a disconnection along it, whatever else holds.
        Recorder r5;
        PathNode* p5 = new PathNode(&d, "user");
        new PathNode(p5, "user_address", 5);
        d.AddPathEventHandler(p5, r5.H(&Recorder::Path));
        ann += address->GetItem("2.2.2.2"); // replaces 1.1.1.1: one disconnection
        QCOMPARE(r5.events, QStringList({"path user:ann"}));

        // A change below the root that several roots satisfy: once, for the
        // first root in store order.
        Recorder rr;
        PathNode* deep = new PathNode(&d, "room");
        PathNode* member = new PathNode(deep, "user", 1);
        new PathNode(member, "user_address", 0);
        d.AddPathEventHandler(deep, rr.H(&Recorder::Path));
        ItemPtr later = room->GetItem("later");
        ItemPtr first = room->GetItem("first");
        ItemPtr bob = user->GetItem("bob");
        later += bob;
        first += bob;
        QVERIFY(rr.events.isEmpty()); // the 1-step raises nothing
        bob += address->GetItem("3.3.3.3");
        QCOMPARE(rr.events, QStringList({"path room:later"}));
    }

    void pathRootAtItemAndNoReplay()
    {
        Type* user = d.NewType("user", 0, false, true);
        Type* online = d.NewType("is_online", 2, true, false);
        user->RelateToType(online, many, one, false);
        ItemPtr ann = user->GetItem("ann");
        ann.NewItem("is_online");
        Recorder r;
        PathNode* root = new PathNode(ann);
        new PathNode(root, "is_online", 0);
        d.AddPathEventHandler(root, r.H(&Recorder::Path));
        QVERIFY(r.events.isEmpty()); // existing state is not replayed
        user->GetItem("bob").NewItem("is_online");
        QVERIFY(r.events.isEmpty()); // another item of the type
        ann.Remove();
        ItemPtr again = user->GetItem("ann"); // made anew with the same value
        again.NewItem("is_online");
        QCOMPARE(r.events, QStringList({"path user:ann"}));

        // A child step to one item.
        Recorder rc;
        PathNode* byItem = new PathNode(&d, "user");
        new PathNode(byItem, online->GetGlobalNullItem(), 0);
        d.AddPathEventHandler(byItem, rc.H(&Recorder::Path));
        user->GetItem("cat").NewItem("is_online");
        QCOMPARE(rc.events, QStringList({"path user:cat"}));
    }

    void allZeroPatternFiresPerConnection()
    {
        Recorder r;
        PathNode* root = new PathNode(&d, "a");
        PathNode* step = new PathNode(root, "b", 0);
        new PathNode(step, "c", 0);
        d.AddPathEventHandler(root, r.H(&Recorder::Path));
        ItemPtr x = a->GetItem("x");
        ItemPtr y = b->NewItem("y");
        y += c->GetItem("1"); // no a yet: the pattern does not hold
        QVERIFY(r.events.isEmpty());
        x += y; // along the first step
        QCOMPARE(r.events, QStringList({"path a:x"}));
        y += c->GetItem("2"); // along the second step, replacing the c
        QCOMPARE(r.events, QStringList({"path a:x", "path a:x"}));
        // Retired with its object: never called again.
        r.RemoveDataHandlers();
        y += c->GetItem("3");
        QCOMPARE(r.events.size(), 2);
    }

    void cleanupCascadesOwnership()
    {
        Type* request = d.NewType("request", 0, false, true);
        Type* results = d.NewType("results", 1, true, false);
        Type* row = d.NewType("row", 1, true, false);
        Type* name = d.NewType("name", 2, false, true);
        request->RelateToType(results, one, many, true);
        results->RelateToType(row, one, many, true);
        row->RelateToType(name, many, one, false);
        Recorder r;
        row->AddItemRemovedHandler(r.H(&Recorder::Added));
        ItemPtr req = request->GetItem("q");
        ItemPtr res = req.NewItem("results");
        ItemPtr r1 = res.NewItem("row");
        r1 += name->GetItem("song");
        d.RemoveDisconnectedItems();
        QCOMPARE(row->Count(), size_t(1)); // all still owned
        req.Remove();
        d.RemoveDisconnectedItems();
        QCOMPARE(results->Count(), size_t(0));
        QCOMPARE(row->Count(), size_t(0));
        QCOMPARE(r.events.size(), 1); // the removal ran its handlers
        QCOMPARE(name->Count(), size_t(0));

        // Reaching an entity keeps an item, but never through an attribute.
        ItemPtr kept = b->NewItem("kept");
        a->GetItem("root") += kept;
        kept += c->GetItem("shared");
        ItemPtr orphan = b->NewItem("orphan");
        orphan += c->GetItem("shared"); // only an attribute links it to the root
        ItemPtr marker = mark->GetGlobalNullItem();
        d.RemoveDisconnectedItems();
        QVERIFY(b->HasItem("kept"));
        QVERIFY(c->HasItem("shared"));
        QVERIFY(!b->HasItem("orphan"));
        QCOMPARE(mark->Count(), size_t(0));
        QVERIFY(mark->GetGlobalNullItem() != ItemPtr());
        Q_UNUSED(marker);
    }

    void schemaDeclarationsSayWhoHoldsWhat()
    {
        Type* x = Schema::Declare("x", Schema::Attribute, Schema::Valued);
        Type* n = Schema::Declare("n", Schema::Node, Schema::Valueless, Schema::OnNewItem);
        QVERIFY(!x->IsNull() && x->IsAutoCreate() && x->GetPrimacy() == 2);
        QVERIFY(n->IsNull() && !n->IsAutoCreate() && n->GetPrimacy() == 1);

        // One a holds one x (a second replaces the first); one x holds many a.
        Schema::Relate("a", "x", one, many);
        ItemPtr first = a->GetItem("first");
        first += x->GetItem("1");
        first += x->GetItem("2");
        a->GetItem("second") += x->GetItem("2");
        QCOMPARE(first.CountItems("x"), 1);
        QCOMPARE(x->GetItem("2").CountItems("a"), 2);

        // Owned items go with their owner.
        Schema::Own("a", "n", many);
        first.NewItem("n");
        first.NewItem("n");
        QCOMPARE(first.CountItems("n"), 2);
        first.Remove();
        d.RemoveDisconnectedItems();
        QCOMPARE(n->Count(), size_t(0));
    }

    void setOperationsAndSorting()
    {
        ItemPtr x = a->GetItem("x"), y = a->GetItem("y"), z = a->GetItem("z");
        ItemPtr b1 = b->NewItem("1"), b2 = b->NewItem("2");
        x += b1;
        y += b1;
        y += b2;
        b1 += c->GetItem("10");
        b2 += c->GetItem("9");
        ItemSet all = g("a");
        QCOMPARE(all.size(), size_t(3));
        QCOMPARE(ItemPtr(all), x);
        QCOMPARE(all.Connected("b").size(), size_t(2));
        QCOMPARE(all.NotConnected("b"), ItemSet(z));
        QCOMPARE(all.Connected(b2), ItemSet(y));
        QCOMPARE(all.NotConnected(b2).size(), size_t(2));
        QCOMPARE(all.GetItems("b").size(), size_t(2));
        QCOMPARE(d.GetItemSubset(all.Connected("b"), "b"), ItemSet(b1));
        QVERIFY(d.GetItemSubset(all, "b").empty());
        QVERIFY(d.GetItemSubset(ItemSet(), "b").empty());
        QCOMPARE(d.GetItem(x, y, "b"), b1);
        QCOMPARE(d.GetItems(x, y, "b"), ItemSet(b1));
        ItemSet bs = g("b");
        QCOMPARE(bs.Connected("c", "9"), ItemSet(b2));
        QVERIFY(bs.Connected("c", "missing").empty());
        QCOMPARE(bs.NotConnected("c", "9"), ItemSet(b1));
        QCOMPARE(all.Common(bs.GetItems("a")).size(), size_t(2));

        // Numeric order: "10" after "9"; alphabetic: before it.
        ItemList numeric = bs.SortNumericBy("c", true);
        QCOMPARE(numeric, ItemList({b2, b1}));
        QCOMPARE(bs.SortNumericBy("c", false), ItemList({b1, b2}));
        QCOMPARE(bs.SortAlphabeticBy("c", true, true), ItemList({b1, b2}));
        ItemPtr upper = a->GetItem("B"), lower = a->GetItem("a");
        ItemSet mixed;
        mixed.insert(lower);
        mixed.insert(upper);
        QCOMPARE(mixed.SortAlphabetic(true, true), ItemList({upper, lower}));
        QCOMPARE(mixed.SortAlphabetic(true, false), ItemList({lower, upper}));
        QCOMPARE(mixed.SortAlphabetic(false, false), ItemList({upper, lower}));
        // Items without a key are left out.
        QVERIFY(all.SortNumericBy("mark", true).empty());

        all.Disconnect("b");
        QVERIFY(b1.IsDisconnectedFromAll() == false); // still has its c
        QVERIFY(!b1.IsConnected("a"));
        all.Remove();
        QCOMPARE(a->Count(), size_t(2)); // "B" and "a" were made after the copy
    }

    void largeGroupsStayOrdered()
    {
        ItemPtr hub = a->GetItem("hub");
        std::vector<ItemPtr> items;
        for (int i = 0; i < 300; ++i)
            items.push_back(b->NewItem(Value(i)));
        // Connect out of order; the group keeps store order regardless.
        for (int i = 299; i >= 0; --i)
            hub += items[size_t(i)];
        ItemSet held = hub.GetItems("b");
        QCOMPARE(held.size(), size_t(300));
        QCOMPARE(ItemPtr(held), items[0]);
        QCOMPARE(hub["b"], items[0]);
        for (int i = 0; i < 300; i += 2)
            hub -= items[size_t(i)];
        QCOMPARE(hub.GetItems("b").size(), size_t(150));
        QCOMPARE(hub["b"], items[1]);
        QVERIFY(hub.IsConnected(items[299]));
        QVERIFY(!hub.IsConnected(items[298]));
    }

    void groupsOfEverySizeMatchAPlainSet()
    {
        // Random connects and cuts take one group through every form it has
        // (one item, a short list, chunks, chunks split in the middle) and
        // back; it must always hold what a plain set holds, in store order.
        ItemPtr hub = a->GetItem("hub");
        std::vector<ItemPtr> items;
        for (int i = 0; i < 3000; ++i)
            items.push_back(b->NewItem(Value(i)));
        std::set<quint64> expected;
        auto same = [&] {
            const ItemSet held = hub.GetItems("b");
            if (held.size() != expected.size() || size_t(hub.CountItems("b")) != expected.size())
                return false;
            auto e = expected.begin();
            for (const ItemPtr& i : held)
                if (i.Sequence() != *e++ || !hub.IsConnected(i) || !i.IsConnected(hub))
                    return false;
            return expected.empty() ? !hub["b"] : hub["b"].Sequence() == *expected.begin();
        };
        std::mt19937 random(5);
        for (int round = 0; round < 20000; ++round) {
            ItemPtr x = items[random() % items.size()];
            // Rising, then falling, so that every size is passed both ways.
            if (int(random() % 10) < (round < 12000 ? 7 : 2)) {
                hub += x;
                expected.insert(x.Sequence());
            } else {
                hub -= x;
                expected.erase(x.Sequence());
            }
            if (round % 499 == 0)
                QVERIFY2(same(), qPrintable(QString("round %1, %2 held").arg(round).arg(expected.size())));
        }
        for (const ItemPtr& x : items) {
            hub -= x;
            expected.erase(x.Sequence());
            if (expected.size() < 3)
                QVERIFY(same());
        }
        QVERIFY(same());
        QVERIFY(!hub.IsConnected("b"));
    }

    void groupsComeAndGoAroundTheirNeighbours()
    {
        // One item with groups of many types, dropped and added in the
        // middle: the others keep their members.
        std::vector<Type*> types;
        for (int i = 0; i < 6; ++i) {
            types.push_back(d.NewType("g" + std::to_string(i), 1, false, true));
            a->RelateToType(types.back(), many, many, false);
        }
        ItemPtr x = a->GetItem("x");
        for (int i = 0; i < 6; ++i)
            for (int k = 0; k <= i; ++k)
                x += types[size_t(i)]->GetItem(Value(k));
        for (int i : {2, 0, 5}) {
            x.Disconnect(types[size_t(i)]->GetName().c_str());
            QVERIFY(!x.IsConnected(types[size_t(i)]->GetName().c_str()));
        }
        for (int i : {1, 3, 4})
            QCOMPARE(x.CountItems(types[size_t(i)]->GetName().c_str()), i + 1);
        x += types[0]->GetItem(Value(7));
        QCOMPARE(x.CountItems("g0"), 1);
        QCOMPARE(x.CountItems("g4"), 5);
        x.Remove();
        for (Type* t : types)
            for (const ItemPtr& i : t->GetItems())
                QVERIFY(i.IsDisconnectedFromAll());
    }

    void anItemsGroupsTakeAboutTheirOwnRoom()
    {
        // A queue entry has nine kinds of connection and a large queue holds
        // hundreds of thousands of them: its groups take about their own
        // room, not that of the next power of two.
        std::vector<Type*> types;
        for (int i = 0; i < 12; ++i) {
            types.push_back(d.NewType("k" + std::to_string(i), 2, false, true));
            a->RelateToType(types.back(), many, many, false);
        }
        for (size_t kinds = 2; kinds <= types.size(); ++kinds) {
            ItemPtr x = a->GetItem(Value(int(kinds)));
            ItemList ends;
            for (size_t i = 0; i < kinds; ++i)
                ends.push_back(types[i]->GetItem(Value(int(kinds))));
            const size_t before = StoreMemory::SlabBytesInUse();
            for (const ItemPtr& end : ends)
                x += end;
            const size_t taken = StoreMemory::SlabBytesInUse() - before;
            QVERIFY2(taken <= (kinds + 2) * sizeof(ConnectionGroup),
                     qPrintable(QString("%1 kinds take %2 bytes").arg(kinds).arg(taken)));
        }
    }

    void valuesFoundAfterManyRemovals()
    {
        // Removals shift later entries of the index back; none may be lost.
        std::vector<ItemPtr> items;
        for (int i = 0; i < 5000; ++i)
            items.push_back(c->GetItem(Value("v" + std::to_string(i))));
        for (int i = 0; i < 5000; i += 3)
            items[size_t(i)].Remove();
        for (int i = 0; i < 5000; ++i) {
            ItemPtr found = c->HasItem(Value("v" + std::to_string(i)));
            if (i % 3 == 0)
                QVERIFY(!found);
            else
                QCOMPARE(found, items[size_t(i)]);
        }
        QCOMPARE(c->Count(), size_t(5000 - 1667));
        ItemPtr again = c->GetItem(Value("v0"));
        QVERIFY(again && again != items[0]);
        QCOMPARE(c->HasItem(Value("v0")), again);
        QCOMPARE(again.AsString(), QString("v0"));
        // Values are kept byte for byte, empty and long ones too.
        const std::string empty, longValue(5000, 'x');
        QCOMPARE(c->GetItem(Value(empty)).AsStdString(), empty);
        QCOMPARE(c->GetItem(Value(longValue)).AsStdString(), longValue);
        QCOMPARE(c->HasItem(Value(longValue)).AsStdString().size(), longValue.size());
    }

    void settings()
    {
        QCOMPARE(GetSetting("x"), QString()); // harmless before the types exist
        SetSetting("x", "1");
        DeclareSettingTypes();
        Recorder r;
        PathNode* root = new PathNode(GetSettingItem("mode"));
        new PathNode(root, "global_value", 2);
        d.AddPathEventHandler(root, r.H(&Recorder::Path));
        QCOMPARE(GetSetting("mode"), QString());
        SetSetting("mode", "yes");
        QVERIFY(IsSettingOn("mode"));
        SetSetting("mode", "yes");
        QCOMPARE(r.events.size(), 1); // the same text again is silent
        SetSetting("mode", "Yes");
        QVERIFY(!IsSettingOn("mode"));
        SetSetting("other", "Yes"); // value items are shared
        QCOMPARE(d.GetType("global_value")->HasItem("Yes").GetItems("global").size(), size_t(2));
        RemoveSetting("mode");
        QCOMPARE(GetSetting("mode"), QString());
        SetRuntimeSetting("mode", "yes");
        QVERIFY(IsRuntimeSettingOn("mode"));
        QVERIFY(!IsSettingOn("mode"));
    }
};

QTEST_GUILESS_MAIN(TestData)
#include "TestData.moc"
