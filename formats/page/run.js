// The page of a run: per stage the distribution of the quality of all selected
// (a histogram, its mean marked) and of every group's Cum. AI (box plots:
// 25th to 75th percentile with the median, whiskers to the 5th and 95th, the
// mean as a diamond), or in exact mode every group's values as points; each
// mark's tooltip gives its values. Then the summary, as its CSV file has it.
(function () {
  "use strict";
  const { data, shown } = page;
  const percentiles = ["p1", "p5", "p10", "p25", "p50", "p75", "p90", "p95", "p99"];
  const at = (d, name) => d.p[percentiles.indexOf(name)];
  const width = 300, left = 110, right = 20, row = 26, axis = 34, histogram = 150;
  const fourFifths = 0.8;  // the four-fifths rule of adverse impact

  d3.select("#counted").text(data.exact ? "Exact computation: one pass."
    : data.counted + " of " + data.samples + " samples counted.");

  // A distribution's tooltip: its mean and percentile points.
  const statistics = (d) => "mean: " + shown(d.mean) + "\n" +
    percentiles.map((name, i) => name + ": " + shown(d.p[i])).join("\n");
  const tooltip = (selection, text) => selection
    .on("mouseover", function () { page.show(text, d3.event); })
    .on("mouseout", page.hide);

  // The Cum. AI axis holds the data, the four-fifths line and 1 (the base group).
  const aiScale = (values) => d3.scaleLinear()
    .domain(d3.extent(values.concat([fourFifths, 1]).filter((v) => v !== null && isFinite(v))))
    .nice().range([left, left + width]);

  function groupRows(svg, top, label) {
    data.groups.forEach((g, i) => {
      svg.append("text").attr("class", "axis-label").attr("x", left - 8)
        .attr("y", top + (i + 0.5) * row + 4).attr("text-anchor", "end")
        .text(g + (i === data.groups.length - 1 ? " (base)" : ""));
    });
    svg.append("text").attr("class", "axis-label").attr("x", left + width / 2)
      .attr("y", top + data.groups.length * row + axis - 4).attr("text-anchor", "middle").text(label);
  }

  function reference(svg, x, top, bottom) {
    svg.append("line").attr("class", "reference").attr("x1", x(fourFifths)).attr("x2", x(fourFifths))
      .attr("y1", top).attr("y2", bottom);
  }

  function diamond(svg, x, y) {
    return svg.append("path").attr("d", d3.symbol().type(d3.symbolDiamond).size(70)())
      .attr("transform", `translate(${x},${y})`);
  }

  const stages = d3.select("#stages");
  for (let s = 1; s <= data.stages; ++s) {
    const groupsHeight = data.groups.length * row + axis;
    const svg = stages.append("svg").attr("data-stage", s).attr("width", left + width + right);
    svg.append("text").attr("class", "heading").attr("x", left + width / 2).attr("y", 18)
      .attr("text-anchor", "middle").text("Stage " + s);
    if (data.exact) {
      // Every group's quality, the quality of all selected as a line; every
      // group's Cum. AI.
      const v = data.values[s - 1];
      const qTop = 34, aiTop = qTop + groupsHeight + 20;
      svg.attr("height", aiTop + groupsHeight + 10);
      const q = d3.scaleLinear().domain(d3.extent(v.groups.map((g) => g[0]).concat([v.quality])
        .filter((x) => x !== null))).nice().range([left, left + width]);
      const ai = aiScale(v.groups.map((g) => g[1]));
      svg.append("g").attr("transform", `translate(0,${qTop + data.groups.length * row})`)
        .call(d3.axisBottom(q).ticks(5));
      svg.append("g").attr("transform", `translate(0,${aiTop + data.groups.length * row})`)
        .call(d3.axisBottom(ai).ticks(5));
      groupRows(svg, qTop, "Quality");
      groupRows(svg, aiTop, "Cum. AI");
      if (v.quality !== null) {
        tooltip(svg.append("line").attr("class", "meanline").attr("data-kind", "quality_all")
          .attr("data-stage", s).attr("x1", q(v.quality)).attr("x2", q(v.quality))
          .attr("y1", qTop).attr("y2", qTop + data.groups.length * row),
        "all selected\nquality: " + shown(v.quality));
      }
      reference(svg, ai, aiTop, aiTop + data.groups.length * row);
      v.groups.forEach(([quality, cumAi, stageAi], i) => {
        const y = (top) => top + (i + 0.5) * row;
        const text = data.groups[i] + "\nquality: " + shown(quality) + "\nCum. AI: " + shown(cumAi) +
          "\nStage AI: " + shown(stageAi);
        if (quality !== null) {
          tooltip(svg.append("circle").attr("class", "quality").attr("r", 5).attr("cx", q(quality))
            .attr("cy", y(qTop)).attr("data-kind", "quality").attr("data-stage", s)
            .attr("data-group", data.groups[i]).attr("data-value", quality), text);
        }
        if (cumAi !== null) {
          tooltip(diamond(svg, ai(cumAi), y(aiTop)).attr("class", "mean").attr("data-kind", "cum_ai")
            .attr("data-stage", s).attr("data-group", data.groups[i]).attr("data-value", cumAi), text);
        }
      });
      continue;
    }
    if (!data.distributions) {
      svg.attr("height", 60);
      svg.append("text").attr("class", "axis-label").attr("x", left + width / 2).attr("y", 44)
        .attr("text-anchor", "middle").text("no counted sample");
      continue;
    }
    // The histogram of the quality of all selected.
    const d = data.distributions[s - 1], all = d.quality;
    const hTop = 34, aiTop = hTop + histogram + axis + 24;
    svg.attr("height", aiTop + groupsHeight + 10);
    const span = all.hi > all.lo ? all.hi - all.lo : Math.max(Math.abs(all.lo), 1) * 1e-3;
    const q = d3.scaleLinear().domain([all.lo, all.lo + span]).nice().range([left, left + width]);
    const most = d3.max(all.bins);
    const h = d3.scaleLinear().domain([0, most]).range([hTop + histogram, hTop]);
    svg.append("g").attr("transform", `translate(0,${hTop + histogram})`).call(d3.axisBottom(q).ticks(5));
    svg.append("g").attr("transform", `translate(${left},0)`).call(d3.axisLeft(h).ticks(4));
    svg.append("text").attr("class", "axis-label").attr("x", left + width / 2)
      .attr("y", hTop + histogram + axis - 4).attr("text-anchor", "middle").text("Quality of all selected");
    svg.append("text").attr("class", "axis-label").attr("transform", `translate(${left - 40},${hTop + histogram / 2}) rotate(-90)`)
      .attr("text-anchor", "middle").text("samples");
    all.bins.forEach((count, b) => {
      const from = all.lo + span * b / all.bins.length, to = all.lo + span * (b + 1) / all.bins.length;
      tooltip(svg.append("rect").attr("class", "bar").attr("data-kind", "quality_bin")
        .attr("data-stage", s).attr("data-count", count)
        .attr("x", q(from)).attr("width", Math.max(0, q(to) - q(from) - 1))
        .attr("y", h(count)).attr("height", hTop + histogram - h(count)),
      "quality " + shown(from) + " to " + shown(to) + ": " + count + (count === 1 ? " sample" : " samples"));
    });
    tooltip(svg.append("line").attr("class", "meanline").attr("data-kind", "quality_mean")
      .attr("data-stage", s).attr("x1", q(all.mean)).attr("x2", q(all.mean))
      .attr("y1", hTop).attr("y2", hTop + histogram),
    "quality of all selected\n" + statistics(all));

    // Every group's Cum. AI as a box.
    const ai = aiScale(d3.merge(d.groups.map((g) => g.p.concat([g.mean]))));
    svg.append("g").attr("transform", `translate(0,${aiTop + data.groups.length * row})`)
      .call(d3.axisBottom(ai).ticks(5));
    groupRows(svg, aiTop, "Cum. AI");
    reference(svg, ai, aiTop, aiTop + data.groups.length * row);
    d.groups.forEach((g, i) => {
      const y = aiTop + (i + 0.5) * row, half = row * 0.3;
      const text = data.groups[i] + ", Cum. AI\n" + statistics(g);
      const box = svg.append("g").attr("class", "ai-box").attr("data-kind", "cum_ai_box")
        .attr("data-stage", s).attr("data-group", data.groups[i]);
      for (const [a, b] of [["p5", "p25"], ["p75", "p95"]])
        box.append("line").attr("class", "whisker").attr("x1", ai(at(g, a))).attr("x2", ai(at(g, b)))
          .attr("y1", y).attr("y2", y);
      for (const end of ["p5", "p95"])
        box.append("line").attr("class", "whisker").attr("x1", ai(at(g, end))).attr("x2", ai(at(g, end)))
          .attr("y1", y - half / 1.5).attr("y2", y + half / 1.5);
      box.append("rect").attr("class", "box").attr("x", ai(at(g, "p25"))).attr("y", y - half)
        .attr("width", Math.max(1, ai(at(g, "p75")) - ai(at(g, "p25")))).attr("height", 2 * half);
      box.append("line").attr("class", "median").attr("x1", ai(at(g, "p50"))).attr("x2", ai(at(g, "p50")))
        .attr("y1", y - half).attr("y2", y + half);
      diamond(box, ai(g.mean), y).attr("class", "mean");
      tooltip(box, text);
    });
  }

  // The summary: per stage and statistic the quality of all selected and
  // every group's quality, Cum. AI and Stage AI.
  const rows = data.summary.rows;
  const column = (name) => data.summary.columns.indexOf(name);
  const [stage, group, statistic] = ["stage", "group", "statistic"].map(column);
  const measures = [["quality", "quality"], ["cum_ai", "Cum. AI"], ["stage_ai", "Stage AI"]]
    .map(([name, label]) => ({ name, label, at: column(name) }));
  const table = d3.select("#summary").append("table").attr("class", "summary");
  const head = table.append("thead").append("tr");
  ["stage", "statistic", "quality of all selected"]
    .concat(data.groups.flatMap((g) => measures.map((m) => m.label + " " + g)))
    .forEach((t) => head.append("th").text(t));
  const body = table.append("tbody");
  for (const r of rows.filter((r) => r[group] === 0)) {
    const tr = body.append("tr").attr("data-stage", r[stage]).attr("data-statistic", r[statistic]);
    tr.append("td").text(r[stage]);
    tr.append("td").text(r[statistic]);
    tr.append("td").attr("data-measure", "quality").text(shown(r[measures[0].at]));
    data.groups.forEach((name, g) => {
      const match = rows.find((q) => q[stage] === r[stage] && q[group] === g + 1 &&
                                     q[statistic] === r[statistic]);
      for (const m of measures)
        tr.append("td").attr("data-group", name).attr("data-measure", m.name)
          .text(match ? shown(match[m.at]) : "");
    });
  }
})();
