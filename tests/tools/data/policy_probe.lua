-- PolicyProbe: drives the default RequestProcessor, ResponseProcessor and
-- GetVerdict of one session with requests made of plain tables, so that the
-- policy can be tried without a host. Each request gives one result line:
-- what the script did to it and what it returned; the last line is the
-- session's verdict.

local REQUESTS = {
  { url = "https://www.stats.test/collect?v=1", fields = { cookie = "id=1", referer = "https://shop.test/" } },
  { url = "https://shop.test/index.html", fields = {} },
  { url = "https://cdn.ads.test/banner.js", fields = { referer = "https://shop.test/" } },
  { url = "https://ads.test/optout/now", fields = { cookie = "id=2" } },
  { url = "https://pixel.ads.test/p.gif", fields = { referer = "https://www.partner.test/page" } },
  { url = "https://social.test/like", fields = { referer = "https://bank.test/" } },
  { url = "https://api.stats.test/x", fields = { cookie = "a=1" }, refuseAnswer = true },
}

local function FakeMessage(spec, log)
  local message = { fields = {} }
  for name, value in pairs(spec.fields) do
    message.fields[name] = value
  end
  function message:GetRequestUrl() return spec.url, false end
  function message:GetField(name) return self.fields[name:lower()] end
  function message:GetFieldValues(name)
    local value = self.fields[name:lower()]
    return value and { value } or {}
  end
  function message:SetField(name, value)
    self.fields[name:lower()] = value
    log[#log + 1] = "set " .. name .. "=" .. value
  end
  function message:RemoveField(name)
    assert(self.fields[name:lower()], "removed an absent field")
    self.fields[name:lower()] = nil
    log[#log + 1] = "removed " .. name
  end
  function message:SetForbiddenResponse(first, second)
    if spec.refuseAnswer then error("the host cannot answer") end
    log[#log + 1] = "answered " .. first
  end
  return message
end

local function Probe()
  local processRequest = DntEngine.Require("RequestProcessor")
  local processResponse = DntEngine.Require("ResponseProcessor")
  local getVerdict = DntEngine.Require("GetVerdict")
  local lines = {}
  for _, spec in ipairs(REQUESTS) do
    local log = {}
    local needsResponse = processRequest(FakeMessage(spec, log), false, "session.test", true)
    if needsResponse then
      local response = FakeMessage({ fields = { ["set-cookie"] = "id=3" } }, log)
      processResponse(response)
    end
    lines[#lines + 1] = spec.url .. ": " .. table.concat(log, ", ") .. " -> " .. tostring(needsResponse)
  end
  local services, verdict = getVerdict()
  local name = services[1] and select(3, DntEngine.GetServiceInfo(services[1])) or "none"
  lines[#lines + 1] = "verdict " .. verdict .. " " .. name
  return table.concat(lines, "\n")
end

return "PolicyProbe", function()
  return Probe
end
