#include <optional>

#include "records/server/FixtureStates.h"
#include "records/server/PgConnection.h"
#include "records/server/RecordsDelivery.h"
#include "records/server/ServerRecords.h"

namespace records_server {

namespace {

// Rows per server transaction: few round trips per commit, a short transaction.
constexpr size_t kBatch = 100;

class CPgDelivery final : public CRecordsDelivery
{
public:
    CPgDelivery(std::string url, std::string stationHost)
        : m_url(std::move(url)), m_stationHost(std::move(stationHost))
    {
    }

    size_t BatchSize() const override { return kBatch; }

    bool Deliver(const std::vector<CAttempt>& rows, Deadline deadline, std::vector<RowAnswer>& answers,
                 std::string& problem) override
    {
        answers.assign(rows.size(), {});
        m_conn.SetDeadline(deadline);
        const bool kept = m_conn.Connected() && m_prepared;
        if (!Ready(problem)) return false;
        CPgResult begin = m_conn.Exec("BEGIN");
        if (!begin.Ok() && !m_conn.Connected() && kept) {
            // A kept connection that the server dropped meanwhile (a restart): one new try.
            m_prepared = false;
            if (!Ready(problem)) return false;
            begin = m_conn.Exec("BEGIN");
        }
        if (!begin.Ok()) return Failed(begin.Error(), problem);
        for (size_t i = 0; i < rows.size(); ++i) {
            std::string state, error;
            if (Upsert(m_conn, rows[i], m_stationHost, error, &state)) continue;
            m_conn.Exec("ROLLBACK");
            if (!IsDataError(state)) return Failed(error, problem);
            // The row itself is refused; the batch goes again without it.
            const std::string prefix = "record " + rows[i].id + ": ";
            answers[i] = {RowAnswer::Said::Refused,
                          error.rfind(prefix, 0) == 0 ? error.substr(prefix.size()) : error};
            return true;
        }
        // The server's acknowledgement: only a committed batch counts. Should the answer to
        // COMMIT be lost, the batch goes again and the upsert changes nothing.
        const CPgResult commit = m_conn.Exec("COMMIT");
        if (!commit.Ok()) return Failed(commit.Error(), problem);
        for (RowAnswer& answer : answers)
            answer.said = RowAnswer::Said::Stored;
        return true;
    }

    bool PublishStates(const std::vector<CFixtureStateRow>& rows, Deadline deadline, std::string& problem,
                       bool& noPlace) override
    {
        noPlace = false;
        m_conn.SetDeadline(deadline);
        if (!m_conn.Connected() && !m_conn.Connect(m_url, problem)) return false;
        for (const CFixtureStateRow& row : rows)
            if (!UpsertFixtureState(m_conn, m_stationHost, row, problem, &noPlace)) {
                m_conn.Close();
                m_prepared = false;
                return false;
            }
        return true;
    }

private:
    bool Ready(std::string& error)
    {
        if (m_conn.Connected() && m_prepared) return true;
        m_prepared = false;
        if (!m_conn.Connected() && !m_conn.Connect(m_url, error)) return false;
        if (!PrepareUpsert(m_conn, error)) {
            m_conn.Close();
            return false;
        }
        m_prepared = true;
        return true;
    }

    bool Failed(const std::string& error, std::string& problem)
    {
        problem = error;
        if (m_conn.Connected())
            m_conn.Exec("ROLLBACK");
        else
            m_prepared = false;
        return false;
    }

    std::string m_url, m_stationHost;
    CPgConnection m_conn;
    bool m_prepared = false;
};

} // namespace

std::unique_ptr<CRecordsDelivery> MakePgDelivery(const std::string& url, const std::string& stationHost)
{
    return std::make_unique<CPgDelivery>(url, stationHost);
}

} // namespace records_server
