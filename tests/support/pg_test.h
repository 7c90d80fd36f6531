#pragma once

// The throwaway PostgreSQL cluster of a test run (scripts/pg-test.sh, started
// by the ctest fixture "postgres"). MESSAGES_PG_INFO names its pg.env, which
// also names the script, for tests that need a private cluster.
// Every test process gets a database of its own, so that test programs that
// run in parallel never see each other's tables.

#include <libpq-fe.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>

class PgTestCluster {
public:
    // Reads the connection info of the shared cluster.
    bool ReadShared() { return Read(Env("MESSAGES_PG_INFO")); }

    // Starts a private cluster in `dir` (for tests that stop the server).
    bool StartPrivate(const std::string& dir)
    {
        if (!ReadShared()) return false;
        script = values["PG_SCRIPT"];
        values.clear();
        privateDir = dir;
        return Script("start") && Read(dir + "/pg.env");
    }
    // Stops the private server at once, as a crash would.
    bool Crash() { return Script("crash"); }
    // Stops the private server cleanly, as an administrator's restart does.
    bool Pause() { return Script("pause"); }
    // Starts a crashed private server again, with its data, on its port.
    bool Resume() { return Script("resume"); }
    // Stops and removes a private cluster.
    void StopPrivate()
    {
        if (!privateDir.empty()) Script("stop");
        privateDir.clear();
    }
    ~PgTestCluster() { StopPrivate(); }

    const std::string& Get(const char* key) { return values[key]; }
    std::string Address() { return values["PG_ADDRESS"]; }
    const std::string& Error() const { return error; }

    // Runs one statement as the service's role on `db` and returns the first
    // value of the first row ("" when there is none); failures go to Error().
    bool Query(const std::string& db, const std::string& sql, std::string* value = nullptr)
    {
        std::string conninfo = "host=" + values["PG_HOST"] + " port=" + values["PG_PORT"] + " user=" +
                               values["PG_USER"] + " password=" + values["PG_PASSWORD"] + " dbname=" + db +
                               " sslmode=disable";
        PGconn* conn = PQconnectdb(conninfo.c_str());
        bool ok = PQstatus(conn) == CONNECTION_OK;
        if (!ok) error = PQerrorMessage(conn);
        if (ok) {
            PGresult* r = PQexec(conn, sql.c_str());
            ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
            if (!ok) error = PQresultErrorMessage(r);
            if (ok && value) *value = PQntuples(r) > 0 && PQnfields(r) > 0 ? PQgetvalue(r, 0, 0) : "";
            PQclear(r);
        }
        PQfinish(conn);
        return ok;
    }

private:
    static std::string Env(const char* name)
    {
        const char* v = getenv(name);
        return v ? v : "";
    }
    bool Read(const std::string& path)
    {
        std::ifstream in(path);
        if (!in) {
            error = "no cluster info at '" + path + "' (run the tests through ctest, which starts the cluster)";
            return false;
        }
        std::string line;
        while (std::getline(in, line)) {
            size_t eq = line.find('=');
            if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return !values["PG_ADDRESS"].empty();
    }
    bool Script(const char* verb)
    {
        std::string cmd = script + " " + verb + " '" + privateDir + "' >/dev/null";
        if (system(cmd.c_str()) != 0) {
            error = cmd + " failed";
            return false;
        }
        return true;
    }

    std::map<std::string, std::string> values;
    std::string privateDir;
    std::string script;
    std::string error;
};

// A fresh database on the shared cluster for this process, dropped at the end.
class PgTestDatabase {
public:
    bool Create()
    {
        if (!cluster.ReadShared()) return false;
        static unsigned counter;
        name = "test_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
        created = cluster.Query(cluster.Get("PG_DATABASE"), "CREATE DATABASE " + name);
        return created;
    }
    ~PgTestDatabase()
    {
        if (created) cluster.Query(cluster.Get("PG_DATABASE"), "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    }
    bool Query(const std::string& sql, std::string* value = nullptr) { return cluster.Query(name, sql, value); }
    std::string Value(const std::string& sql)
    {
        std::string v;
        return Query(sql, &v) ? v : "<error: " + cluster.Error() + ">";
    }

    const char* Address() { return cluster.Get("PG_ADDRESS").c_str(); }
    const char* Name() const { return name.c_str(); }
    const char* User() { return cluster.Get("PG_USER").c_str(); }
    const char* Password() { return cluster.Get("PG_PASSWORD").c_str(); }
    const std::string& Error() const { return cluster.Error(); }

    PgTestCluster cluster;

private:
    std::string name;
    bool created = false;
};
