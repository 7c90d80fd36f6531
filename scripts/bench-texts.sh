# shellcheck shell=bash
# Sourced by the benchmarks that build a large history: made-up text that
# reads like natural text to the word index.
#   texts_sql COUNT   prints the SQL that sets the session up (work_mem, no
#                     JIT, seed 0.42, :now_ms) and makes bench_words, a
#                     vocabulary of 60000 made-up words, short ones mostly the
#                     frequent ones, and bench_texts (i, text), COUNT texts of
#                     5 to 40 words whose ranks are drawn with probability
#                     about 1/rank (e to the power of a uniform number up to
#                     ln 60001), as words of natural text are
texts_sql() {
  sed "s/@COUNT@/$1/" <<'SQL'
SET work_mem = '1GB';
SET jit = off;
SELECT setseed(0.42);
SELECT (EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) * 1000)::bigint AS now_ms \gset
CREATE TABLE bench_words AS
WITH c AS (
  SELECT i, 1 + floor(power(random(), 1.6) * 4)::int + (i % 11 = 0)::int AS syllables FROM generate_series(1, 120000) i
), w AS (
  -- A syllable: a consonant (none in one of seven), a vowel, sometimes a closing consonant.
  SELECT c.i, string_agg(substr('bcdfghjklmnprstvwz', 1 + floor(random() * 21)::int, 1) ||
                         substr('aeiouy', 1 + floor(random() * 6)::int, 1) ||
                         CASE WHEN random() < 0.3 THEN substr('nrstlkm', 1 + floor(random() * 7)::int, 1) ELSE '' END,
                         '') AS word
  FROM c CROSS JOIN LATERAL generate_series(1, c.syllables) s GROUP BY c.i
)
SELECT (row_number() OVER (ORDER BY length(word) + random() * 5))::int AS rank, word FROM (SELECT DISTINCT word FROM w) d;
DELETE FROM bench_words WHERE rank > 60000;
ALTER TABLE bench_words ADD PRIMARY KEY (rank);
CREATE TABLE bench_texts (i int PRIMARY KEY, text text);
INSERT INTO bench_texts
SELECT d.i, string_agg(w.word, ' ')
FROM (SELECT g.i, floor(exp(random() * ln(60001)))::int AS r
      FROM generate_series(1, @COUNT@) g(i) CROSS JOIN LATERAL generate_series(1, 5 + (hashint4(g.i) & 2147483647) % 36) k) d
JOIN bench_words w ON w.rank = d.r GROUP BY d.i;
SQL
}
