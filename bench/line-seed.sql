-- A line's records for bench/line: :rows attempts from 50 stations of 4 fixtures each,
-- spread over the last 60 days up to a minute ago, in one statement (no round trip per row).
-- About 3 % of the serials come back for a retest; outcomes, steps and reasons in plausible
-- shares; one work order a day, each with one file (two of them saw a second file);
-- a few boot-loader versions. The fixtures' state as their stations publish it, heard now.
\set ON_ERROR_STOP on
SET synchronous_commit = off;
ALTER TABLE torvane_attempt DISABLE TRIGGER torvane_attempt_notify;
-- The line's totals once from all the rows, as a migration fills them, not row by row.
ALTER TABLE torvane_attempt DISABLE TRIGGER torvane_attempt_summary;
INSERT INTO torvane_attempt (id, started_utc, ended_utc, host, "user", process_id, port, command,
    file_name, file_size, file_sha256, pages_sent, baud_rate, page_pause_ms, loader_version,
    serial_text, id_check, erase_result, program_result, verify_result, outcome, exit_code,
    messages, duration_ms, tool_version, tag, station_run, fail_reason, revision, station_host)
SELECT md5('bench-' || i)::uuid,
       started, started + make_interval(secs => duration / 1000.0),
       'station-' || lpad(station::text, 2, '0'), 'line', 4000 + station, 'COM' || fixture, 'station',
       'panel-' || day_tag || '.mot', 65536, file_hash, 256, 115200, 40, 'BL ' || (1 + station % 3) || '.0',
       serial, 'ok', 'ok',
       CASE WHEN outcome = 'fail' AND roll < 0.030 THEN 'failed' WHEN outcome IN ('pass', 'fail') THEN 'ok' END,
       CASE WHEN outcome = 'pass' THEN 'ok' WHEN outcome = 'fail' AND roll >= 0.030 THEN 'mismatch' END,
       outcome,
       CASE outcome WHEN 'pass' THEN 0 WHEN 'unchanged' THEN 0 WHEN 'fail' THEN 3 ELSE 4 END,
       CASE WHEN outcome = 'fail' AND roll < 0.030 THEN 'Program failed at page ' || (1 + i % 8) || '.'
            WHEN outcome = 'fail' THEN 'Verify failed at 0x' || to_hex(4096 * (i % 8)) || '.'
            ELSE 'Program OK.' END,
       duration, '1.4.' || (CASE WHEN day_no = 17 AND i % 2 = 0 THEN 3 ELSE 2 END), 'WO-' || day_tag,
       'run-' || station, CASE WHEN outcome = 'fail' AND roll < 0.030 THEN 'no reply' WHEN outcome = 'fail'
       THEN 'verify mismatch' END, 2, 'station-' || lpad(station::text, 2, '0')
FROM (SELECT i, station, fixture, started, day_no, roll, duration,
             to_char(started, 'YYYYMMDD') AS day_tag,
             encode(sha256(convert_to('file-' || to_char(started, 'YYYYMMDD') || CASE WHEN day_no IN (12, 40) AND i % 3 = 0
                                                            THEN 'b' ELSE '' END, 'UTF8')), 'hex') AS file_hash,
             'SN-' || lpad(((i * 97) / 100)::text, 8, '0') AS serial,
             CASE WHEN roll < 0.050 THEN 'fail' WHEN roll < 0.058 THEN 'stopped' WHEN roll < 0.066 THEN 'unchanged'
                  WHEN roll < 0.067 THEN 'unfinished' ELSE 'pass' END AS outcome
      FROM (SELECT i, 1 + (i % 50) AS station, 1 + (i / 50) % 4 AS fixture,
                   now() - interval '1 minute' - (:rows - i) * interval '60 days' / :rows AS started,
                   ((:rows - i) * 60) / :rows AS day_no,
                   ((i * 7919) % 1000) / 1000.0 AS roll,
                   30000 + (i * 131) % 20000 AS duration
            FROM generate_series(1::bigint, :rows) AS i) spread) attempts;
ALTER TABLE torvane_attempt ENABLE TRIGGER torvane_attempt_notify;
SELECT torvane_summaries_fill();
ALTER TABLE torvane_attempt ENABLE TRIGGER torvane_attempt_summary;
INSERT INTO torvane_fixture_state (station_host, fixture, state, detail, step, pages_done, pages_total,
    seconds_left, fail_reason, last_panel)
SELECT 'station-' || lpad(station::text, 2, '0'), 'COM' || fixture,
       CASE WHEN fixture = 4 THEN 'waiting' ELSE 'programming' END, '', '', 100, 256, NULL, '', ''
FROM generate_series(1, 50) AS station, generate_series(1, 4) AS fixture;
-- As a server looks once autovacuum has passed after a bulk load (hint bits set, the visibility
-- map current), not while it still works through the million rows just written.
VACUUM (ANALYZE) torvane_attempt, torvane_day_fixture, torvane_day_cycle, torvane_panel, torvane_day_panel;
-- The gigabyte just written goes to disk now, not in the middle of the measures.
CHECKPOINT;
