// Prints what the mdb-reader package makes of a Jet database, as JSON:
//   node dump.mjs FILE [PASSWORD]
// {"password": ..., "created": ..., "tables": {"NAME": {"columns": [...], "rows": [[...], ...]}}}
// A file it refuses prints {"error": "..."} and exits with status 2.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, password] = process.argv.slice(2);
try {
  const reader = new MDBReader(readFileSync(file), password === undefined ? {} : { password });
  const tables = {};
  for (const name of reader.getTableNames()) {
    const table = reader.getTable(name);
    const columns = table.getColumnNames();
    const rows = table.getData().map((row) => columns.map((c) => (row[c] === undefined ? null : row[c])));
    tables[name] = { columns, rows };
  }
  const created = reader.getCreationDate();
  process.stdout.write(
    JSON.stringify({
      password: reader.getPassword(),
      created: created === null ? null : created.toISOString(),
      tables,
    }) + "\n",
  );
} catch (e) {
  process.stdout.write(JSON.stringify({ error: String(e && e.message ? e.message : e) }) + "\n");
  process.exit(2);
}
